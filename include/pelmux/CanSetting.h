/// \file
/// Start-up parameters of the CAN controllers: bit rate and accepted frame type per channel.
#pragma once

#include <pelmux/ResultCode.h>

#include <cstdint>

namespace Varnholt {

/// The frames a channel accepts; the CAN driver keeps them as the texts "Standard", "Extended" and
/// "Standard, Extended".
enum CanFrameType : std::int32_t {
    FRAMETYPE_STANDARD = 0,
    FRAMETYPE_EXTENDED = 1,
    FRAMETYPE_STANDARD_EXTENDED = 2,
};

/// The start-up settings of the CAN channels: bit rate and frame type.
///
/// Channels are numbered 1 to 4; rates are in kbit/s.
///
/// The values live in the CAN driver's parameter keys in the registry
/// (`HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\CanXilinxVH\Parameters\Device0` for
/// channel 1, up to `Device3` for channel 4), which the driver reads when it starts; nothing here tells the
/// driver. Every call opens the key afresh and blocks only for the registry access. Arguments are
/// checked first, then whether the unit has CAN channels (its identity says so; an identity that
/// cannot be read counts as having them), then the registry. Outputs are written only on success.
struct CanSetting {
    /// The channel's bit rate: the stored "BaudRate" (bit/s, read as atoi reads a number) divided by
    /// 1000, low 16 bits. ERR_INVALID_PARAMETER_NULL (9) for a null `rate` or a channel outside 1 to
    /// 4; ERR_NOT_SUPPORTED (2) without CAN channels, when the key cannot be opened or the value
    /// cannot be read (missing, or more than 255 bytes).
    virtual ResultCode getBaudRate(unsigned char channel, std::uint16_t* rate) = 0; // 0
    /// The channel's frame type from the stored "Mode", compared exactly (letter case included).
    /// 9 for a null `type` or a bad channel; 2 without CAN channels or when the key or value cannot be
    /// read; ERR_CODE_NOT_EXIST (5) for any other text.
    virtual ResultCode getFrameType(unsigned char channel, CanFrameType* type) = 0; // 1
    /// Stores `rate` (0 to 1000 kbit/s) as the "BaudRate" text in bit/s. 9 for a rate above 1000 or a
    /// bad channel; 2 without CAN channels; ERR_OPEN_FAILED (1) when the key does not exist or cannot
    /// be opened for writing (it is never created); ERR_UNKNOWN_FEATURE (3) when the write fails.
    virtual ResultCode setBaudRate(unsigned char channel, std::uint16_t rate) = 0; // 2
    /// Stores the frame type's text as "Mode". 9 for a bad channel; 2 without CAN channels; then 9 for
    /// a type other than 0, 1 or 2; 1 when the key cannot be opened for writing; 3 when the write fails.
    virtual ResultCode setFrameType(unsigned char channel, CanFrameType type) = 0; // 3
    /// Frees the object; the pointer must not be used afterwards.
    virtual void release() = 0; // 4
};

} // namespace Varnholt
