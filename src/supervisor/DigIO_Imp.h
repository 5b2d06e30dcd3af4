// The unit's four digital inputs, as the system supervisor reads them.
#pragma once

#include "frame/DriverChannel.h"

#include <pelmux/DigIO.h>

namespace pelmux {

class DigIO_Imp final : public Varnholt::DigIO {
public:
    // The unit identity says first whether inputs are fitted; the driver is opened afterwards.
    DigIO_Imp();

    ResultCode getDigitalInputs(unsigned char* inputs) override;
    void release() override { delete this; }

private:
    ~DigIO_Imp() = default;

    DriverLink link_;
    bool digitalInputsPresent_ = true;
};

// Driver request: one byte, bits 0 to 3 are inputs 1 to 4.
inline constexpr std::uint32_t digitalInputsRequest = 0x222548;

} // namespace pelmux
