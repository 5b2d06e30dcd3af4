/// \file
/// The unit's four digital inputs.
#pragma once

#include <pelmux/ResultCode.h>

namespace Varnholt {

/// The four digital inputs. GetDigIO builds a new object per call with its own driver handle;
/// whether the unit has digital inputs is learnt from its identity when the object is built (an
/// identity that cannot be read counts as having them). The operation runs on the caller's thread,
/// blocks for one driver request and starts no thread.
struct DigIO {
    /// The inputs' levels: bits 0 to 3 are inputs 1 to 4, bits 4 to 7 are always 0.
    /// ERR_OPEN_FAILED (1) without the board driver, then ERR_NOT_SUPPORTED (2) when the unit has
    /// no digital inputs (no request is sent), ERR_INVALID_PARAMETER_NULL (9) for a null `inputs`,
    /// ERR_IOCTRL_OPERATION_FAILED (7) when the request fails, ERR_BUFFER_SIZE_ERROR (6) for an
    /// answer other than one byte. `inputs` is written only on success.
    virtual ResultCode getDigitalInputs(unsigned char* inputs) = 0; // 0
    /// Closes the driver handle and frees the object; the pointer must not be used afterwards.
    virtual void release() = 0; // 1
};

} // namespace Varnholt
