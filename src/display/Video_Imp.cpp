#include "display/Video_Imp.h"

#include "frame/ExhaustedMemory.h"
#include "frame/LittleEndian.h"
#include "identity/FeatureProbe.h"
#include "identity/VersionGates.h"
#include "platform/Files.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <tmmintrin.h>
#endif

namespace pelmux {

namespace {

// The row packing below moves pixels as little-endian words, as both targets store them.
static_assert(std::endian::native == std::endian::little);

struct ChannelDevices {
    const wchar_t* control;
    const wchar_t* capture;
    const wchar_t* singleField;
};

constexpr ChannelDevices channelDevices[2] = {
    {L"\\\\.\\PelmuxDrv\\Video1", L"\\\\.\\VAZaverIRORar\\Video1", L"\\\\.\\VAZaverIRORar\\Video1_Int"},
    {L"\\\\.\\PelmuxDrv\\Video2", L"\\\\.\\VAZaverIRORar\\Video2", L"\\\\.\\VAZaverIRORar\\Video2_Int"},
};

// The line mode sits in bits 1-2 of the control byte, the enable flag in bit 0, the auxiliary flag in bit 3.
constexpr unsigned char enableBit = 0x01;
constexpr unsigned char lineModeMask = 0x06;
constexpr unsigned char auxFlagBit = 0x08;

// The video requests are not judged by their returned count (the control word's read aside).
ResultCode request(const DriverLink& link, std::uint32_t code, const void* input, std::uint32_t inputSize,
                   void* output, std::uint32_t outputSize)
{
    if (!link.isOpen())
        return Varnholt::ERR_OPEN_FAILED;
    return issue(link, code, input, inputSize, output, outputSize, Count::Unchecked);
}

// A read whose request carries nothing.
template <std::uint32_t size>
ResultCode readAnswer(const DriverLink& link, std::uint32_t code, unsigned char (&answer)[size])
{
    return request(link, code, nullptr, 0, answer, size);
}

// Most reads send as many bytes as they ask for, which the driver does not look at.
template <std::uint32_t size>
ResultCode readPadded(const DriverLink& link, std::uint32_t code, unsigned char (&answer)[size])
{
    const unsigned char ignored[size] = {};
    return request(link, code, ignored, size, answer, size);
}

// Most writes offer the driver as many bytes for an answer as they send, which it leaves unused.
template <std::uint32_t size>
ResultCode writePadded(const DriverLink& link, std::uint32_t code, const unsigned char (&input)[size])
{
    unsigned char unused[size] = {};
    return request(link, code, input, size, unused, size);
}

bool isScaleInRange(float s)
{
    return s >= 0.25f && s <= 4.0f; // false for NaN too
}

// One field as a source of picture lines.
struct Field {
    const unsigned char* lines;
    std::uint32_t count;
};

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
// Four pixels at a time with one byte shuffle that drops their unused bytes. Each store writes
// 16 bytes of which the next group overwrites the last 4, so the last pixels of a line are left
// to the caller; the answer is how many pixels are done.
__attribute__((target("ssse3"))) std::uint32_t
packPixelsShuffled(unsigned char* out, const unsigned char* line, std::uint32_t width)
{
    const __m128i order = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    std::uint32_t x = 0;
    for (; x + 8 <= width; x += 4) {
        const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line + 4 * std::size_t{x}));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * std::size_t{x}),
                         _mm_shuffle_epi8(pixels, order));
    }
    return x;
}

bool canShuffle()
{
    static const bool supported = __builtin_cpu_supports("ssse3");
    return supported;
}
#else
std::uint32_t packPixelsShuffled(unsigned char*, const unsigned char*, std::uint32_t)
{
    return 0;
}

bool canShuffle()
{
    return false;
}
#endif

// One picture line into a bitmap row: bytes 0-2 of each pixel, then zero fill up to `rowSize`.
// No branch per pixel: shuffled where the processor can, else four pixels become three words.
void packRow(unsigned char* row, const unsigned char* line, std::uint32_t width, std::size_t rowSize,
             bool shuffle)
{
    std::uint32_t x = shuffle ? packPixelsShuffled(row, line, width) : 0;
    unsigned char* out = row + 3 * std::size_t{x};
    line += 4 * std::size_t{x};
    for (; x + 4 <= width; x += 4, line += 16, out += 12) {
        std::uint32_t p[4];
        std::memcpy(p, line, sizeof p);
        const std::uint32_t w[3] = {
            (p[0] & 0x00FFFFFFu) | (p[1] << 24),
            ((p[1] >> 8) & 0x0000FFFFu) | (p[2] << 16),
            ((p[2] >> 16) & 0x000000FFu) | (p[3] << 8),
        };
        std::memcpy(out, w, sizeof w);
    }
    for (; x < width; ++x, line += 4, out += 3) {
        out[0] = line[0];
        out[1] = line[1];
        out[2] = line[2];
    }
    std::memset(out, 0, rowSize - static_cast<std::size_t>(out - row));
}

} // namespace

ScaleBytes encodeScaleFactor(float factor)
{
    const float inverse = 1.0f / factor;
    ScaleBytes bytes{128, 64};
    if (factor > 1.0f)
        bytes.coarse = static_cast<unsigned char>(128.0f * inverse);
    if (factor <= 0.25f)
        bytes.fine = 255;
    else if (factor <= 1.0f)
        bytes.fine = static_cast<unsigned char>(64.0f * inverse);
    return bytes;
}

float decodeScaleFactor(unsigned char coarse, unsigned char fine)
{
    const float step =
        coarse == 128 ? static_cast<float>(fine * 0.015625) : static_cast<float>(coarse * 0.0078125);
    return step == 0.0f ? 0.0f : 1.0f / step;
}

Video_Imp::Video_Imp() : videoPresent_(probeFeature(Feature::Video)) {}

void Video_Imp::closeDevices()
{
    link_.close();
    capture_.close();
    captureSingleField_.close();
}

ResultCode Video_Imp::init(unsigned char channel)
{
    // A second init replaces the devices; the handles it replaces are closed, not left behind.
    closeDevices();
    if (!videoPresent_)
        return Varnholt::ERR_NOT_SUPPORTED;
    if (channel != 1 && channel != 2)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    const ChannelDevices& names = channelDevices[channel - 1];
    ResultCode result = Varnholt::ERR_SUCCESS;
    link_.open(names.control);
    if (!link_.isOpen())
        result = Varnholt::ERR_OPEN_FAILED;
    // The single-field device is asked for only when the full-frame one is there.
    capture_.open(names.capture);
    if (capture_.isOpen())
        captureSingleField_.open(names.singleField);
    if (link_.isOpen()) {
        const unsigned char reset[2] = {0, 0};
        if (issue(link_, videoResetRequest, reset, sizeof reset, nullptr, 0, Count::Unchecked) !=
            Varnholt::ERR_SUCCESS)
            result = Varnholt::ERR_IOCTRL_OPERATION_FAILED;
        setLineMode(2);
        setAuxFlag(0);
    }
    return result;
}

ResultCode Video_Imp::readControlByte(unsigned char* value)
{
    unsigned char answer[1] = {};
    const ResultCode result = readPadded(link_, videoControlByteReadRequest, answer);
    if (result == Varnholt::ERR_SUCCESS)
        *value = answer[0];
    return result;
}

ResultCode Video_Imp::writeControlByte(unsigned char value)
{
    const unsigned char input[1] = {value};
    return writePadded(link_, videoControlByteWriteRequest, input);
}

ResultCode Video_Imp::changeControlBits(unsigned char mask, unsigned char bits, UnreadableControl unreadable)
{
    unsigned char control = 0;
    if (const ResultCode result = readControlByte(&control); result != Varnholt::ERR_SUCCESS) {
        if (unreadable == UnreadableControl::Fails)
            return result;
        control = 0;
    }
    return writeControlByte(static_cast<unsigned char>((control & ~mask) | bits));
}

ResultCode Video_Imp::controlByteFor(const void* output, unsigned char& control)
{
    if (!link_.isOpen())
        return Varnholt::ERR_OPEN_FAILED;
    if (output == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    return readControlByte(&control);
}

ResultCode Video_Imp::setEnabled(unsigned char on)
{
    // Switching the input on or off does not need the other bits: without them they go out cleared.
    return changeControlBits(enableBit, on != 0 ? enableBit : 0, UnreadableControl::Cleared);
}

ResultCode Video_Imp::setLineMode(std::int32_t mode)
{
    if (!link_.isOpen())
        return Varnholt::ERR_OPEN_FAILED;
    if (mode < 0 || mode > 2)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    return changeControlBits(lineModeMask, static_cast<unsigned char>(mode << 1), UnreadableControl::Fails);
}

ResultCode Video_Imp::getLineMode(std::int32_t* mode)
{
    unsigned char control = 0;
    if (const ResultCode result = controlByteFor(mode, control); result != Varnholt::ERR_SUCCESS)
        return result;
    const std::int32_t value = (control & lineModeMask) >> 1;
    if (value == 3)
        return Varnholt::ERR_INVALID_DATA_RANGE;
    *mode = value;
    return Varnholt::ERR_SUCCESS;
}

ResultCode Video_Imp::setAuxFlag(std::int32_t on)
{
    return changeControlBits(auxFlagBit, on != 0 ? auxFlagBit : 0, UnreadableControl::Fails);
}

ResultCode Video_Imp::getAuxFlag(std::int32_t* on)
{
    unsigned char control = 0;
    if (const ResultCode result = controlByteFor(on, control); result != Varnholt::ERR_SUCCESS)
        return result;
    *on = (control & auxFlagBit) != 0 ? 1 : 0;
    return Varnholt::ERR_SUCCESS;
}

ResultCode Video_Imp::setControlWord(std::int32_t value)
{
    unsigned char word[4];
    putDword(word, static_cast<std::uint32_t>(value));
    return writePadded(link_, videoControlWordWriteRequest, word);
}

ResultCode Video_Imp::getControlWord(std::int32_t* value)
{
    if (value == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    if (!link_.isOpen())
        return Varnholt::ERR_OPEN_FAILED;
    unsigned char word[4] = {};
    const ResultCode result =
        issue(link_, videoControlWordReadRequest, nullptr, 0, word, sizeof word, Count::OutputFirst);
    if (result != Varnholt::ERR_SUCCESS)
        return result;
    *value = static_cast<std::int32_t>(dwordAt(word));
    return Varnholt::ERR_SUCCESS;
}

ResultCode Video_Imp::setByteParameters(unsigned char a, unsigned char b, unsigned char c)
{
    const unsigned char values[3] = {a, b, c};
    return writePadded(link_, videoByteParametersWriteRequest, values);
}

ResultCode Video_Imp::getByteParameters(unsigned char* a, unsigned char* b, unsigned char* c)
{
    if (a == nullptr || b == nullptr || c == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    unsigned char values[3] = {};
    const ResultCode result = readPadded(link_, videoByteParametersReadRequest, values);
    if (result != Varnholt::ERR_SUCCESS)
        return result;
    *a = values[0];
    *b = values[1];
    *c = values[2];
    return Varnholt::ERR_SUCCESS;
}

ResultCode Video_Imp::setVideoArea(std::uint16_t a, std::uint16_t b, std::uint16_t c, std::uint16_t d)
{
    const std::uint16_t words[4] = {a, b, c, d};
    unsigned char area[8];
    for (int i = 0; i < 4; ++i)
        putWord(area + 2 * i, words[i]);
    return writePadded(link_, videoAreaWriteRequest, area);
}

ResultCode Video_Imp::readArea(std::uint16_t (&words)[4])
{
    unsigned char area[8] = {};
    const ResultCode result = readPadded(link_, videoAreaReadRequest, area);
    if (result != Varnholt::ERR_SUCCESS)
        return result;
    for (int i = 0; i < 4; ++i)
        words[i] = wordAt(area + 2 * i);
    return Varnholt::ERR_SUCCESS;
}

ResultCode Video_Imp::getVideoArea(std::uint16_t* a, std::uint16_t* b, std::uint16_t* c, std::uint16_t* d)
{
    if (a == nullptr || b == nullptr || c == nullptr || d == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    std::uint16_t words[4] = {};
    const ResultCode result = readArea(words);
    if (result != Varnholt::ERR_SUCCESS)
        return result;
    *a = words[0];
    *b = words[1];
    *c = words[2];
    *d = words[3];
    return Varnholt::ERR_SUCCESS;
}

ResultCode Video_Imp::getSignalInfo(std::uint16_t* first, std::uint16_t* second, float* rate)
{
    if (first == nullptr || second == nullptr || rate == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    unsigned char info[6] = {};
    if (const ResultCode result = readAnswer(link_, videoSignalInfoRequest, info);
        result != Varnholt::ERR_SUCCESS)
        return result;
    *first = wordAt(info);
    *second = wordAt(info + 2);
    *rate = static_cast<float>(info[4] * 0.25);
    return Varnholt::ERR_SUCCESS;
}

ResultCode Video_Imp::getVideoStandard(std::int32_t* standard)
{
    if (standard == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    unsigned char value = 0;
    const ResultCode result = readDecoderRegister(videoStandardRegister, &value);
    if (result != Varnholt::ERR_SUCCESS)
        return result;
    *standard = (value >> 1) & 7;
    return Varnholt::ERR_SUCCESS;
}

ResultCode Video_Imp::getControlByte(unsigned char* value)
{
    if (value == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    return readControlByte(value);
}

ResultCode Video_Imp::setScaling(float x, float y)
{
    std::int32_t mode = 2;
    if (getLineMode(&mode) != Varnholt::ERR_SUCCESS)
        mode = 2;
    float vertical = 0.0f;
    if (isFpgaVersionAtLeast(1)) {
        // Line modes 0 and 1 carry one field: the hardware scales it twice as far.
        vertical = mode == 0 || mode == 1 ? 2.0f * y : y;
        if (!isScaleInRange(x) || !isScaleInRange(vertical))
            return Varnholt::ERR_INVALID_DATA_RANGE;
    } else {
        // Older FPGAs always scale the field twice as far and enlarge no more than twice.
        vertical = 2.0f * y;
        if (x > 2.0f)
            x = 2.0f;
        if (vertical > 2.0f)
            vertical = 2.0f;
        if (!(x >= 0.25f) || !(vertical >= 0.25f))
            return Varnholt::ERR_INVALID_DATA_RANGE;
    }
    if (!link_.isOpen())
        return Varnholt::ERR_OPEN_FAILED;
    const ScaleBytes horizontalBytes = encodeScaleFactor(x);
    const ScaleBytes verticalBytes = encodeScaleFactor(vertical);
    const unsigned char word[4] = {horizontalBytes.coarse, verticalBytes.coarse, horizontalBytes.fine,
                                   verticalBytes.fine};
    return writePadded(link_, videoScalingWriteRequest, word);
}

ResultCode Video_Imp::getScaling(float* x, float* y)
{
    if (x == nullptr || y == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    if (!link_.isOpen())
        return Varnholt::ERR_OPEN_FAILED;
    std::int32_t mode = 2;
    if (getLineMode(&mode) != Varnholt::ERR_SUCCESS)
        mode = 2;
    unsigned char word[4] = {};
    const ResultCode result = readPadded(link_, videoScalingReadRequest, word);
    if (result != Varnholt::ERR_SUCCESS)
        return result;
    const float horizontal = decodeScaleFactor(word[0], word[2]);
    float vertical = decodeScaleFactor(word[1], word[3]);
    // A zero byte to divide by encodes no factor at all.
    if (horizontal == 0.0f || vertical == 0.0f)
        return Varnholt::ERR_INVALID_DATA_RANGE;
    if (!(mode == 2 && isFpgaVersionAtLeast(1)))
        vertical /= 2.0f;
    if (vertical < 0.125f)
        vertical = 0.125f;
    *x = horizontal;
    *y = vertical;
    return Varnholt::ERR_SUCCESS;
}

ResultCode Video_Imp::captureGate() const
{
    if (capture_.isOpen())
        return Varnholt::ERR_SUCCESS;
    return isFpgaVersionAtLeast(0) ? Varnholt::ERR_OPEN_FAILED : Varnholt::ERR_NEWER_FPGA_REQUIRED;
}

ResultCode Video_Imp::enableCapture(unsigned char on)
{
    const ResultCode gate = captureGate();
    if (gate != Varnholt::ERR_SUCCESS)
        return gate;
    const unsigned char value = on != 0 ? 1 : 0;
    return request(link_, videoCaptureRequest, &value, 1, nullptr, 0);
}

ResultCode Video_Imp::captureFrame(unsigned char* buffer, std::uint32_t size, unsigned char singleField,
                                   std::uint32_t* received)
{
    const ResultCode gate = captureGate();
    if (gate != Varnholt::ERR_SUCCESS)
        return gate;
    const DriverLink& source = singleField != 0 ? captureSingleField_ : capture_;
    if (!source.isOpen() || !platform::readHandle(source.device(), buffer, size, received))
        return Varnholt::ERR_DEVICE_READ_FAILED;
    return Varnholt::ERR_SUCCESS;
}

ResultCode Video_Imp::readRawFrame(unsigned char* buffer, std::uint32_t size, unsigned char singleField)
{
    if (buffer == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    if (size == 0)
        return Varnholt::ERR_BUFFER_SIZE_ERROR;
    std::uint32_t received = 0;
    return captureFrame(buffer, size, singleField, &received);
}

ResultCode Video_Imp::getSnapshot(unsigned char** bitmap, std::uint32_t* bitmapSize,
                                  unsigned char singleField, unsigned char fieldOrder)
{
    const std::uint32_t size = singleField != 0 ? singleFieldBufferSize : fullFrameBufferSize;
    auto* raw = new (std::nothrow) unsigned char[size];
    if (raw == nullptr)
        return Varnholt::ERR_MEMORY_ALLOCATION_FAILED;
    std::uint32_t received = 0;
    ResultCode result = captureFrame(raw, size, singleField, &received);
    // Only the bytes that arrived are converted: a short frame never shows stale memory.
    if (result == Varnholt::ERR_SUCCESS)
        result = convertToBitmap(bitmap, bitmapSize, raw, received, singleField, fieldOrder);
    delete[] raw;
    return result;
}

ResultCode Video_Imp::convertToBitmap(unsigned char** bitmap, std::uint32_t* bitmapSize,
                                      const unsigned char* raw, std::uint32_t rawSize,
                                      unsigned char singleField, unsigned char fieldOrder)
{
    if (bitmap == nullptr || bitmapSize == nullptr || raw == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    if (rawSize < rawFrameHeaderSize)
        return Varnholt::ERR_BUFFER_SIZE_ERROR;
    // The header may hold anything: the fields are measured against the buffer by division, so
    // that no product of its numbers can overflow.
    const std::uint32_t width = dwordAt(raw + 4);
    const std::uint32_t linesB = dwordAt(raw + 8);
    const std::uint32_t linesA = dwordAt(raw + 12);
    const std::uint64_t lineBytes = static_cast<std::uint64_t>(width) * 4;
    const std::uint64_t room = rawSize - rawFrameHeaderSize;
    if (lineBytes != 0) {
        if (linesA > room / lineBytes)
            return Varnholt::ERR_BUFFER_SIZE_ERROR;
        if (singleField == 0 && linesB > (room - linesA * lineBytes) / lineBytes)
            return Varnholt::ERR_BUFFER_SIZE_ERROR;
    }

    // Field order set: field A gives the first lines of each pair; clear: field B does. A single
    // field gives both lines of each pair.
    const Field a{raw + rawFrameHeaderSize, linesA};
    Field first = a;
    Field second = a;
    if (singleField == 0) {
        const Field b{a.lines + linesA * lineBytes, linesB};
        first = fieldOrder != 0 ? a : b;
        second = fieldOrder != 0 ? b : a;
    }
    if (second.count != first.count && second.count != static_cast<std::uint64_t>(first.count) + 1)
        return Varnholt::ERR_INVALID_DATA_RANGE;

    // The core header holds 16-bit sizes; an empty picture is no picture.
    const std::uint64_t height = static_cast<std::uint64_t>(first.count) + second.count;
    if (width == 0 || height == 0 || width > 0xFFFF || height > 0xFFFF)
        return Varnholt::ERR_INVALID_DATA_RANGE;
    const std::size_t rowSize = (static_cast<std::size_t>(width) * 3 + 3) & ~static_cast<std::size_t>(3);
    const std::uint64_t total = bitmapHeaderSize + static_cast<std::uint64_t>(rowSize) * height;
    if (total > 0xFFFFFFFFu)
        return Varnholt::ERR_MEMORY_ALLOCATION_FAILED;
    auto* out = new (std::nothrow) unsigned char[static_cast<std::size_t>(total)];
    if (out == nullptr)
        return Varnholt::ERR_MEMORY_ALLOCATION_FAILED;

    out[0] = 0x42;
    out[1] = 0x4D;
    putDword(out + 2, static_cast<std::uint32_t>(total));
    putDword(out + 6, 0);
    putDword(out + 10, bitmapHeaderSize);
    putDword(out + 14, 12);
    putWord(out + 18, static_cast<std::uint16_t>(width));
    putWord(out + 20, static_cast<std::uint16_t>(height));
    putWord(out + 22, 1);
    putWord(out + 24, 24);

    // Rows bottom-up: the second source's extra line at the bottom, then the pairs upwards, so
    // that the top row is the second source's first line.
    unsigned char* row = out + bitmapHeaderSize;
    const bool shuffle = canShuffle();
    auto put = [&](const Field& field, std::uint32_t line) {
        packRow(row, field.lines + line * lineBytes, width, rowSize, shuffle);
        row += rowSize;
    };
    if (second.count != first.count)
        put(second, second.count - 1);
    for (std::uint32_t k = first.count; k-- > 0;) {
        put(first, k);
        put(second, k);
    }
    *bitmap = out;
    *bitmapSize = static_cast<std::uint32_t>(total);
    return Varnholt::ERR_SUCCESS;
}

ResultCode Video_Imp::freeSnapshot(unsigned char* bitmap)
{
    if (bitmap == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    delete[] bitmap;
    return Varnholt::ERR_SUCCESS;
}

ResultCode Video_Imp::saveSnapshot(const char* path, unsigned char singleField)
{
    if (path == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    std::int32_t standard = 0;
    ResultCode result = getVideoStandard(&standard);
    if (result != Varnholt::ERR_SUCCESS)
        return result;
    // Standards 0 and 4 deliver field A first; the others field B.
    const unsigned char fieldOrder = standard == 0 || standard == 4 ? 1 : 0;
    unsigned char* bitmap = nullptr;
    std::uint32_t size = 0;
    result = getSnapshot(&bitmap, &size, singleField, fieldOrder);
    if (result != Varnholt::ERR_SUCCESS)
        return result;
    const std::unique_ptr<unsigned char[]> picture(bitmap); // freed on every way out

    return unlessMemoryExhausted([&] {
        // The name as the application's own C run-time reads it (on Windows, its ANSI code page).
        const std::optional<std::wstring> widePath = platform::callerFileName(path);
        // Written beside the file and then moved over it: a write that fails (a full disk) leaves an
        // earlier snapshot of that name whole instead of cut short.
        const platform::SaveStatus saved =
            widePath
                ? platform::saveCallerFile(
                      widePath->c_str(), std::string_view(reinterpret_cast<const char*>(picture.get()), size))
                : platform::SaveStatus::NotCreated;
        switch (saved) {
        case platform::SaveStatus::Saved:
            return Varnholt::ERR_SUCCESS;
        case platform::SaveStatus::NotWritten:
            // A write the disk did not take completely is a failure, not a snapshot.
            return Varnholt::ERR_DEVICE_WRITE_FAILED;
        default:
            return Varnholt::ERR_OPEN_FAILED;
        }
    });
}

ResultCode Video_Imp::minimizeArea()
{
    if (const ResultCode result = readArea(savedArea_); result != Varnholt::ERR_SUCCESS)
        return result;
    return setVideoArea(0, 0, 0, 0);
}

ResultCode Video_Imp::restoreArea()
{
    return setVideoArea(savedArea_[0], savedArea_[1], savedArea_[2], savedArea_[3]);
}

ResultCode Video_Imp::writeDecoderRegister(unsigned char reg, unsigned char value)
{
    const unsigned char input[2] = {reg, value};
    return writePadded(link_, videoDecoderWriteRequest, input);
}

ResultCode Video_Imp::readDecoderRegister(unsigned char reg, unsigned char* value)
{
    if (value == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    const unsigned char input[2] = {reg, 0};
    unsigned char answer[2] = {};
    const ResultCode result =
        request(link_, videoDecoderReadRequest, input, sizeof input, answer, sizeof answer);
    if (result != Varnholt::ERR_SUCCESS)
        return result;
    *value = answer[1];
    return Varnholt::ERR_SUCCESS;
}

ResultCode Video_Imp::setCropping(unsigned char left, unsigned char top, unsigned char right,
                                  unsigned char bottom)
{
    if (top > 127 || bottom > 127)
        return Varnholt::ERR_INVALID_DATA_RANGE;
    // The hardware crops left and right in steps of two pixels.
    const unsigned char values[4] = {static_cast<unsigned char>(left / 2), top,
                                     static_cast<unsigned char>(right / 2), bottom};
    return request(link_, videoCroppingWriteRequest, values, sizeof values, nullptr, 0);
}

ResultCode Video_Imp::getCropping(unsigned char* left, unsigned char* top, unsigned char* right,
                                  unsigned char* bottom)
{
    if (!link_.isOpen())
        return Varnholt::ERR_OPEN_FAILED;
    if (left == nullptr || top == nullptr || right == nullptr || bottom == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    unsigned char values[4] = {};
    if (const ResultCode result = readAnswer(link_, videoCroppingReadRequest, values);
        result != Varnholt::ERR_SUCCESS)
        return result;
    *left = static_cast<unsigned char>(values[0] * 2);
    *top = values[1];
    *right = static_cast<unsigned char>(values[2] * 2);
    *bottom = values[3];
    return Varnholt::ERR_SUCCESS;
}

} // namespace pelmux
