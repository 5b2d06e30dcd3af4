/// \file
/// Firmware, library and operating-system image versions.
#pragma once

#include <pelmux/ResultCode.h>

namespace Varnholt {

/// Six versions, each as four bytes major.minor.revision.build. GetAuxVersion builds a new object
/// per call with its own driver handle; every operation runs on the caller's thread, blocks for at
/// most one driver request or file read and starts no thread. The firmware versions come from the
/// board driver: ERR_OPEN_FAILED (1) without the driver, then ERR_INVALID_PARAMETER_NULL (9) for a
/// null output, ERR_IOCTRL_OPERATION_FAILED (7) when the request fails, ERR_BUFFER_SIZE_ERROR (6)
/// for an answer other than four bytes. Outputs are written only on success.
struct AuxVersion {
    /// The FPGA's version, from the board driver.
    virtual ResultCode getFpgaVersion(unsigned char* major, unsigned char* minor, unsigned char* revision,
                                      unsigned char* build) = 0; // 0
    /// The system supervisor's firmware version, from the board driver.
    virtual ResultCode getSupervisorVersion(unsigned char* major, unsigned char* minor,
                                            unsigned char* revision, unsigned char* build) = 0; // 1
    /// The front micro-controller's firmware version, from the board driver.
    virtual ResultCode getFrontVersion(unsigned char* major, unsigned char* minor, unsigned char* revision,
                                       unsigned char* build) = 0; // 2
    /// This library's version, 1.5.0.0; needs no driver. 9 for a null output.
    virtual ResultCode getLibraryVersion(unsigned char* major, unsigned char* minor, unsigned char* revision,
                                         unsigned char* build) = 0; // 3
    /// The operating-system image's version, from "c:\Windows\System32\oeminfo.ini". It is the four
    /// numbers after the first lower-case "v" that a digit follows, within the file's first 512
    /// bytes. 9 for a null output (tested first); ERR_OPEN_FAILED (1) when the file cannot be
    /// opened; ERR_EXECUTE_COMMAND_FAILED (17) when it cannot be read, holds no such "v", or the
    /// text after it is not four numbers of 0 to 255.
    virtual ResultCode getOsImageVersion(unsigned char* major, unsigned char* minor, unsigned char* revision,
                                         unsigned char* build) = 0; // 4
    /// A further firmware record from the board driver, passed on unchanged.
    virtual ResultCode getExtraVersion(unsigned char* major, unsigned char* minor, unsigned char* revision,
                                       unsigned char* build) = 0; // 5
    /// Closes the driver handle and frees the object; the pointer must not be used afterwards.
    virtual void release() = 0; // 6
};

} // namespace Varnholt
