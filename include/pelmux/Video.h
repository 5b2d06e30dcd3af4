/// \file
/// The two analogue video inputs: channel control, scaling, area and cropping, decoder registers and frame
/// capture into 24-bit bitmaps.
#pragma once

#include <pelmux/ResultCode.h>

#include <cstdint>

namespace Varnholt {

/// The analogue video inputs: decoder settings, capture and snapshots.
///
/// One object serves the channel (1 or 2) chosen by init. Bitmaps handed out by getSnapshot and
/// convertToBitmap are given back with freeSnapshot.
///
/// Every operation runs on the caller's thread, blocks for its driver requests and starts no thread.
/// Common results: ERR_INVALID_PARAMETER_NULL (9) for a null pointer, tested first; ERR_OPEN_FAILED (1)
/// when the channel's control device is not open (init not called or failed); ERR_IOCTRL_OPERATION_FAILED
/// (7) when a request fails. Outputs are written only on success. Apart from getControlWord, the driver's
/// returned byte count is not judged.
struct Video {
    /// Opens the devices of `channel`, resets it and sets line mode 2 and the auxiliary flag 0.
    /// The devices are its control device "\\.\PelmuxDrv\Video<n>" and its capture devices
    /// "\\.\VAZaverIRORar\Video<n>" and "..._Int" (the second only when the first opened); those of
    /// an earlier init are closed. ERR_NOT_SUPPORTED (2) when the unit has no video inputs, 9 for a
    /// channel other than 1 or 2, 1 when the control device cannot be opened (missing capture
    /// devices are not reported), 7 when the reset fails.
    virtual ResultCode init(unsigned char channel) = 0; // 0
    /// Sets (non-zero) or clears the enable bit (bit 0) of the control byte; a control byte that
    /// cannot be read counts as 0.
    virtual ResultCode setEnabled(unsigned char on) = 0; // 1
    /// Line mode 0, 1 or 2 into bits 1-2 of the control byte: 1 first, then 9 for another mode.
    virtual ResultCode setLineMode(std::int32_t mode) = 0; // 2
    /// The line mode; a control byte holding 3 gives ERR_INVALID_DATA_RANGE (8). 1, then 9 for null.
    virtual ResultCode getLineMode(std::int32_t* mode) = 0; // 3
    /// Sets (non-zero) or clears the auxiliary flag (bit 3 of the control byte).
    virtual ResultCode setAuxFlag(std::int32_t on) = 0; // 4
    /// The auxiliary flag, 0 or 1. 1, then 9 for null.
    virtual ResultCode getAuxFlag(std::int32_t* on) = 0; // 5
    /// The channel's 32-bit control word; its meaning is the driver's.
    virtual ResultCode setControlWord(std::int32_t value) = 0; // 6
    /// The control word. A returned count other than 4 gives ERR_BUFFER_SIZE_ERROR (6), a failed
    /// request included.
    virtual ResultCode getControlWord(std::int32_t* value) = 0; // 7
    /// Three parameter bytes of the channel, passed in this order.
    virtual ResultCode setByteParameters(unsigned char a, unsigned char b, unsigned char c) = 0; // 8
    /// The three parameter bytes.
    virtual ResultCode getByteParameters(unsigned char* a, unsigned char* b, unsigned char* c) = 0; // 9
    /// The four 16-bit values of the capture area, passed in this order.
    virtual ResultCode setVideoArea(std::uint16_t a, std::uint16_t b, std::uint16_t c,
                                    std::uint16_t d) = 0; // 10
    /// The four values of the capture area.
    virtual ResultCode getVideoArea(std::uint16_t* a, std::uint16_t* b, std::uint16_t* c,
                                    std::uint16_t* d) = 0; // 11
    /// The driver's signal information: two 16-bit values and a rate in steps of 0.25.
    virtual ResultCode getSignalInfo(std::uint16_t* first, std::uint16_t* second, float* rate) = 0; // 12
    /// The decoder's video standard, bits 1-3 of decoder register 0x8C (0 to 7).
    virtual ResultCode getVideoStandard(std::int32_t* standard) = 0; // 13
    /// The raw control byte.
    virtual ResultCode getControlByte(unsigned char* value) = 0; // 14
    /// Horizontal and vertical scale factors. In line modes 0 and 1 (and always on an FPGA before
    /// 0.4.0.1) the vertical factor goes to the hardware doubled. Both must lie in 0.25 to 4.0
    /// (before 0.4.0.1: above 2.0 they are set to 2.0, and each must be at least 0.25), else 8,
    /// tested before the open test.
    virtual ResultCode setScaling(float x, float y) = 0; // 15
    /// The scale factors as setScaling took them (the vertical one at least 0.125). A scaling word
    /// no factor encodes (a zero byte to divide by) gives 8.
    virtual ResultCode getScaling(float* x, float* y) = 0; // 16
    /// Starts (non-zero) or stops frame capture. Without the capture device: 1 on FPGA 0.4.0.0 or
    /// later, ERR_NEWER_FPGA_REQUIRED (26) before it.
    virtual ResultCode enableCapture(unsigned char on) = 0; // 17
    /// Captures a frame and writes it as a 24-bit bitmap file at `path`. One field is doubled when
    /// singleField is non-zero; `path` is the caller's own path, at most 259 characters. A file
    /// that is there is replaced in one step: the bitmap is written beside it and then takes its
    /// place, so that a failed write leaves an earlier file whole. The field order follows the
    /// decoder's video standard. Results of getVideoStandard and getSnapshot; 1 when the file
    /// cannot be made or cannot take the old one's place; ERR_DEVICE_WRITE_FAILED (16) when the
    /// disk does not take the whole bitmap.
    virtual ResultCode saveSnapshot(const char* path, unsigned char singleField) = 0; // 18
    /// One read of a raw frame (header, field A, field B; the single-field device: field A only)
    /// into `buffer`, at most `size` bytes. 9 for null, 6 for size 0, the capture results of
    /// enableCapture, ERR_DEVICE_READ_FAILED (15) when the read fails. No open test of the control
    /// device.
    virtual ResultCode readRawFrame(unsigned char* buffer, std::uint32_t size,
                                    unsigned char singleField) = 0; // 19
    /// Captures a frame and converts it as convertToBitmap does; the bitmap is the caller's to give
    /// back with freeSnapshot. ERR_MEMORY_ALLOCATION_FAILED (32) when no buffer can be had, then
    /// the results of readRawFrame and convertToBitmap.
    virtual ResultCode getSnapshot(unsigned char** bitmap, std::uint32_t* bitmapSize,
                                   unsigned char singleField,
                                   unsigned char fieldOrder) = 0; // 20
    /// Converts a raw frame of `rawSize` bytes into a new 24-bit bitmap. The bitmap has a 26-byte
    /// header, rows bottom-up, each padded to 4 bytes; its lines interleave the two fields:
    /// fieldOrder non-zero puts field A's lines first in each pair, zero field B's; singleField
    /// doubles field A. 9 for a null pointer; 6 when the buffer is shorter than the header or the
    /// fields it announces; 8 when the second field's line count is neither the first's nor one
    /// more, or the picture is empty or wider or taller than 65535; 32 when no memory can be had.
    /// Needs no device.
    virtual ResultCode convertToBitmap(unsigned char** bitmap, std::uint32_t* bitmapSize,
                                       const unsigned char* raw, std::uint32_t rawSize,
                                       unsigned char singleField,
                                       unsigned char fieldOrder) = 0; // 21
    /// Frees a bitmap of getSnapshot or convertToBitmap; 9 for null.
    virtual ResultCode freeSnapshot(unsigned char* bitmap) = 0; // 22
    /// Keeps the capture area and sets it to 0, 0, 0, 0.
    virtual ResultCode minimizeArea() = 0; // 23
    /// Sets the area minimizeArea kept (0, 0, 0, 0 before any).
    virtual ResultCode restoreArea() = 0; // 24
    /// Writes one register of the channel's video decoder.
    virtual ResultCode writeDecoderRegister(unsigned char reg, unsigned char value) = 0; // 25
    /// Reads one register of the channel's video decoder.
    virtual ResultCode readDecoderRegister(unsigned char reg, unsigned char* value) = 0; // 26
    /// Sets the cropping in pixels and lines. Left and right are in steps of 2 (odd values rounded
    /// down); top and bottom at most 127 (else 8, tested before the open test).
    virtual ResultCode setCropping(unsigned char left, unsigned char top, unsigned char right,
                                   unsigned char bottom) = 0; // 27
    /// The cropping as setCropping sent it. 1, then 9 for null.
    virtual ResultCode getCropping(unsigned char* left, unsigned char* top, unsigned char* right,
                                   unsigned char* bottom) = 0; // 28
    /// Closes the object's devices and frees it.
    virtual void release() = 0; // 29
};

} // namespace Varnholt
