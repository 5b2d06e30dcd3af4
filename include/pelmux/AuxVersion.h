// Firmware, library and operating-system image versions.
#pragma once

#include <pelmux/ResultCode.h>

namespace Varnholt {

struct AuxVersion {
    virtual ResultCode getFpgaVersion(unsigned char* major, unsigned char* minor, unsigned char* revision,
                                      unsigned char* build) = 0; // 0
    virtual ResultCode getSupervisorVersion(unsigned char* major, unsigned char* minor,
                                            unsigned char* revision, unsigned char* build) = 0; // 1
    virtual ResultCode getFrontVersion(unsigned char* major, unsigned char* minor, unsigned char* revision,
                                       unsigned char* build) = 0; // 2
    virtual ResultCode getLibraryVersion(unsigned char* major, unsigned char* minor, unsigned char* revision,
                                         unsigned char* build) = 0; // 3
    virtual ResultCode getOsImageVersion(unsigned char* major, unsigned char* minor, unsigned char* revision,
                                         unsigned char* build) = 0; // 4
    virtual ResultCode getExtraVersion(unsigned char* major, unsigned char* minor, unsigned char* revision,
                                       unsigned char* build) = 0; // 5
    virtual void release() = 0;                                   // 6
};

} // namespace Varnholt
