// Supply voltages: the system supervisor's 12-bit reading of a rail behind its resistor divider.
#pragma once

#include "frame/DriverChannel.h"

#include <pelmux/Adc.h>

namespace pelmux {

class Adc_Imp final : public Varnholt::Adc {
public:
    Adc_Imp() { link_.open(); }

    ResultCode getVoltage(Varnholt::VoltageChannel channel, double* voltage) override;
    void release() override { delete this; }

private:
    ~Adc_Imp() = default;

    DriverLink link_;
};

// Driver request: the channel in, the echoed channel and the raw reading out.
inline constexpr std::uint32_t voltageRequest = 0x222464;

// The divider in front of the converter: 12 for the 24 V rails (channels 0, 1), 5 for the 12 V
// rails (2, 3), 2 for the 5 V to TFT rails (4 to 7) and 1 for every other channel number, taken
// unsigned, so a negative one too.
double dividerFactor(std::uint32_t channel);

} // namespace pelmux
