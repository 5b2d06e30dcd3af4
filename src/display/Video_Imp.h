// One analogue video input: the channel's control device, its two capture devices and the
// conversion of captured frames into 24-bit bitmaps.
#pragma once

#include "frame/DriverChannel.h"

#include <pelmux/Video.h>

#include <cstdint>

namespace pelmux {

// Serves the channel chosen by init. The object holds, in this order, the channel's control device,
// the full-frame capture device and the single-field capture device (each a handle with its open
// flag), the area saved by minimizeArea and whether the unit has video inputs at all.
class Video_Imp final : public Varnholt::Video {
public:
    // Asks the unit identity whether video inputs are fitted; the devices are opened by init.
    Video_Imp();
    Video_Imp(const Video_Imp&) = delete;
    Video_Imp& operator=(const Video_Imp&) = delete;

    ResultCode init(unsigned char channel) override;
    ResultCode setEnabled(unsigned char on) override;
    ResultCode setLineMode(std::int32_t mode) override;
    ResultCode getLineMode(std::int32_t* mode) override;
    ResultCode setAuxFlag(std::int32_t on) override;
    ResultCode getAuxFlag(std::int32_t* on) override;
    ResultCode setControlWord(std::int32_t value) override;
    ResultCode getControlWord(std::int32_t* value) override;
    ResultCode setByteParameters(unsigned char a, unsigned char b, unsigned char c) override;
    ResultCode getByteParameters(unsigned char* a, unsigned char* b, unsigned char* c) override;
    ResultCode setVideoArea(std::uint16_t a, std::uint16_t b, std::uint16_t c, std::uint16_t d) override;
    ResultCode getVideoArea(std::uint16_t* a, std::uint16_t* b, std::uint16_t* c, std::uint16_t* d) override;
    ResultCode getSignalInfo(std::uint16_t* first, std::uint16_t* second, float* rate) override;
    ResultCode getVideoStandard(std::int32_t* standard) override;
    ResultCode getControlByte(unsigned char* value) override;
    ResultCode setScaling(float x, float y) override;
    ResultCode getScaling(float* x, float* y) override;
    ResultCode enableCapture(unsigned char on) override;
    // Captures a picture and writes it as a bitmap file to `path`. On Windows exhausted memory while
    // the name is read or the file written answers ERR_MEMORY_ALLOCATION_FAILED (32), the picture freed.
    ResultCode saveSnapshot(const char* path, unsigned char singleField) override;
    ResultCode readRawFrame(unsigned char* buffer, std::uint32_t size, unsigned char singleField) override;
    ResultCode getSnapshot(unsigned char** bitmap, std::uint32_t* bitmapSize, unsigned char singleField,
                           unsigned char fieldOrder) override;
    ResultCode convertToBitmap(unsigned char** bitmap, std::uint32_t* bitmapSize, const unsigned char* raw,
                               std::uint32_t rawSize, unsigned char singleField,
                               unsigned char fieldOrder) override;
    ResultCode freeSnapshot(unsigned char* bitmap) override;
    ResultCode minimizeArea() override;
    ResultCode restoreArea() override;
    ResultCode writeDecoderRegister(unsigned char reg, unsigned char value) override;
    ResultCode readDecoderRegister(unsigned char reg, unsigned char* value) override;
    ResultCode setCropping(unsigned char left, unsigned char top, unsigned char right,
                           unsigned char bottom) override;
    ResultCode getCropping(unsigned char* left, unsigned char* top, unsigned char* right,
                           unsigned char* bottom) override;
    void release() override { delete this; }

private:
    ~Video_Imp() = default;

    ResultCode readControlByte(unsigned char* value);
    ResultCode writeControlByte(unsigned char value);
    // What a change of control bits does when the control byte cannot be read.
    enum class UnreadableControl : std::uint8_t {
        Fails,   // answers the read's result, writes nothing
        Cleared, // writes the changed bits with every other bit cleared
    };
    // Replaces the bits of `mask` in the control byte by `bits`; the others stay as read.
    ResultCode changeControlBits(unsigned char mask, unsigned char bits, UnreadableControl unreadable);
    // A getter of control bits: the open test, the null test of `output`, then the control byte.
    ResultCode controlByteFor(const void* output, unsigned char& control);
    // The four words of the video area; `words` is written only on success.
    ResultCode readArea(std::uint16_t (&words)[4]);
    // The capture devices are there from FPGA 0.4.0.0 on: without them a capture answers
    // ERR_OPEN_FAILED on such an FPGA and ERR_NEWER_FPGA_REQUIRED on an older one.
    ResultCode captureGate() const;
    // The gate, then one read of a frame; `received` holds the bytes that arrived.
    ResultCode captureFrame(unsigned char* buffer, std::uint32_t size, unsigned char singleField,
                            std::uint32_t* received);
    void closeDevices();

    DriverLink link_;
    DriverLink capture_;
    DriverLink captureSingleField_;
    std::uint16_t savedArea_[4] = {};
    bool videoPresent_ = true;
};

// Driver requests of a channel's control device.
inline constexpr std::uint32_t videoResetRequest = 0x22245C;
inline constexpr std::uint32_t videoControlByteReadRequest = 0x222448;
inline constexpr std::uint32_t videoControlByteWriteRequest = 0x222424;
inline constexpr std::uint32_t videoControlWordWriteRequest = 0x222450;
inline constexpr std::uint32_t videoControlWordReadRequest = 0x22244C;
inline constexpr std::uint32_t videoByteParametersWriteRequest = 0x22242C;
inline constexpr std::uint32_t videoByteParametersReadRequest = 0x222428;
inline constexpr std::uint32_t videoAreaWriteRequest = 0x222430;
inline constexpr std::uint32_t videoAreaReadRequest = 0x222434;
inline constexpr std::uint32_t videoSignalInfoRequest = 0x222460;
inline constexpr std::uint32_t videoScalingWriteRequest = 0x222438;
inline constexpr std::uint32_t videoScalingReadRequest = 0x22243C;
inline constexpr std::uint32_t videoCaptureRequest = 0x2225AC;
inline constexpr std::uint32_t videoDecoderWriteRequest = 0x222440;
inline constexpr std::uint32_t videoDecoderReadRequest = 0x222444;
inline constexpr std::uint32_t videoCroppingWriteRequest = 0x222454;
inline constexpr std::uint32_t videoCroppingReadRequest = 0x222458;

// The decoder register whose bits 1-3 give the video standard.
inline constexpr unsigned char videoStandardRegister = 0x8C;

// A raw frame: this header, then field A, then field B, each line `width` pixels of 4 bytes (blue,
// green, red, unused). Header words: width at 4, lines of field B at 8, lines of field A at 12.
inline constexpr std::uint32_t rawFrameHeaderSize = 256;
// The bitmap header: file header and the 12-byte core header.
inline constexpr std::uint32_t bitmapHeaderSize = 26;
// The raw buffers of getSnapshot.
inline constexpr std::uint32_t fullFrameBufferSize = 2048000;
inline constexpr std::uint32_t singleFieldBufferSize = 1024000;

// The scaling word's two bytes for one factor: the first 128 / s above 1 (else 128), the second
// 64 / s up to 1 (else 64; 255 at 0.25 and below), each truncated.
struct ScaleBytes {
    unsigned char coarse;
    unsigned char fine;
};
ScaleBytes encodeScaleFactor(float factor);
// The factor of the two bytes: 64 / fine when coarse is 128, else 128 / coarse. Zero when the
// byte divided by is 0 (a word no factor encodes).
float decodeScaleFactor(unsigned char coarse, unsigned char fine);

} // namespace pelmux
