// Firmware version gates: whether the FPGA, the system supervisor or the front micro-controller
// runs at least a given version. Each call reads the version afresh through a driver handle of its
// own (one driver open, one request, one close) and allocates nothing; nothing is cached. A version that
// cannot be read answers false, so a missing driver looks like firmware that is too old.
#pragma once

#include <cstdint>

namespace pelmux {

// A version a.b.c.d as one number: each byte counts as two decimal digits, and a byte above 99
// carries into the next pair (1.0.0.200 packs like 1.0.2.0).
constexpr std::uint32_t packVersion(unsigned char a, unsigned char b, unsigned char c, unsigned char d)
{
    return a * 1000000u + b * 10000u + c * 100u + d;
}

// FPGA at least 0.4.0.build (callers answer ERR_NEWER_FPGA_REQUIRED).
bool isFpgaVersionAtLeast(unsigned char build);
// Supervisor at least a.b.c.0 (callers answer ERR_NEWER_SS_REQUIRED).
bool isSupervisorVersionAtLeast(unsigned char a, unsigned char b, unsigned char c);
// Front micro-controller at least a.b.0.0 (callers answer ERR_NEWER_FRONT_UC_REQUIRED).
bool isFrontVersionAtLeast(unsigned char a, unsigned char b);

} // namespace pelmux
