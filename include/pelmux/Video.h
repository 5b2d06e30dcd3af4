// The two analogue video inputs: channel control, scaling, area and cropping, decoder registers and frame
// capture into 24-bit bitmaps.
#pragma once

#include <pelmux/ResultCode.h>

#include <cstdint>

namespace Varnholt {

// One object serves the channel (1 or 2) chosen by init. Bitmaps handed out by getSnapshot and
// convertToBitmap are given back with freeSnapshot.
struct Video {
    virtual ResultCode init(unsigned char channel) = 0;                                             // 0
    virtual ResultCode setEnabled(unsigned char on) = 0;                                            // 1
    virtual ResultCode setLineMode(std::int32_t mode) = 0;                                          // 2
    virtual ResultCode getLineMode(std::int32_t* mode) = 0;                                         // 3
    virtual ResultCode setAuxFlag(std::int32_t on) = 0;                                             // 4
    virtual ResultCode getAuxFlag(std::int32_t* on) = 0;                                            // 5
    virtual ResultCode setControlWord(std::int32_t value) = 0;                                      // 6
    virtual ResultCode getControlWord(std::int32_t* value) = 0;                                     // 7
    virtual ResultCode setByteParameters(unsigned char a, unsigned char b, unsigned char c) = 0;    // 8
    virtual ResultCode getByteParameters(unsigned char* a, unsigned char* b, unsigned char* c) = 0; // 9
    virtual ResultCode setVideoArea(std::uint16_t a, std::uint16_t b, std::uint16_t c,
                                    std::uint16_t d) = 0; // 10
    virtual ResultCode getVideoArea(std::uint16_t* a, std::uint16_t* b, std::uint16_t* c,
                                    std::uint16_t* d) = 0;                                          // 11
    virtual ResultCode getSignalInfo(std::uint16_t* first, std::uint16_t* second, float* rate) = 0; // 12
    virtual ResultCode getVideoStandard(std::int32_t* standard) = 0;                                // 13
    virtual ResultCode getControlByte(unsigned char* value) = 0;                                    // 14
    virtual ResultCode setScaling(float x, float y) = 0;                                            // 15
    virtual ResultCode getScaling(float* x, float* y) = 0;                                          // 16
    virtual ResultCode enableCapture(unsigned char on) = 0;                                         // 17
    virtual ResultCode saveSnapshot(const char* path, unsigned char singleField) = 0;               // 18
    virtual ResultCode readRawFrame(unsigned char* buffer, std::uint32_t size,
                                    unsigned char singleField) = 0; // 19
    virtual ResultCode getSnapshot(unsigned char** bitmap, std::uint32_t* bitmapSize,
                                   unsigned char singleField,
                                   unsigned char fieldOrder) = 0; // 20
    virtual ResultCode convertToBitmap(unsigned char** bitmap, std::uint32_t* bitmapSize,
                                       const unsigned char* raw, std::uint32_t rawSize,
                                       unsigned char singleField,
                                       unsigned char fieldOrder) = 0;                    // 21
    virtual ResultCode freeSnapshot(unsigned char* bitmap) = 0;                          // 22
    virtual ResultCode minimizeArea() = 0;                                               // 23
    virtual ResultCode restoreArea() = 0;                                                // 24
    virtual ResultCode writeDecoderRegister(unsigned char reg, unsigned char value) = 0; // 25
    virtual ResultCode readDecoderRegister(unsigned char reg, unsigned char* value) = 0; // 26
    virtual ResultCode setCropping(unsigned char left, unsigned char top, unsigned char right,
                                   unsigned char bottom) = 0; // 27
    virtual ResultCode getCropping(unsigned char* left, unsigned char* top, unsigned char* right,
                                   unsigned char* bottom) = 0; // 28
    virtual void release() = 0;                                // 29
};

} // namespace Varnholt
