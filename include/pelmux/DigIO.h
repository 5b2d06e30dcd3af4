// The unit's four digital inputs.
#pragma once

#include <pelmux/ResultCode.h>

namespace Varnholt {

struct DigIO {
    // Bits 0 to 3 are inputs 1 to 4.
    virtual ResultCode getDigitalInputs(unsigned char* inputs) = 0; // 0
    virtual void release() = 0;                                     // 1
};

} // namespace Varnholt
