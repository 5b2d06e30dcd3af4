// The display's ambient light sensor: one measurement turns the sensor's two raw channel bytes into
// lux, and an averaging calculation runs a worker thread that samples the sensor about every
// 800 ms, drops outliers with a short reject window, switches the operating range when asked to do
// so automatically and keeps a moving average. One averaging calculation runs at a time in a
// session: the named semaphore "PELMUX_LIGHT_SENSOR_AVERAGE_LOCKED" is held while one runs.
#pragma once

#include "frame/DriverChannel.h"
#include "platform/Mutex.h"
#include "platform/Semaphore.h"
#include "platform/Thread.h"
#include "platform/Time.h"

#include <pelmux/Lightsensor.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace pelmux {

// Driver requests of the sensor.
inline constexpr std::uint32_t lightMeasureRequest = 0x222514;  // 2 bytes: channel 1, channel 2
inline constexpr std::uint32_t lightSetRangeRequest = 0x222518; // 1 byte in: 0 standard, 1 extended
inline constexpr std::uint32_t lightGetRangeRequest = 0x22251C; // 1 byte: 0 standard, 1 extended

// Held by the one averaging calculation of the session.
inline constexpr const char* averageCalcLockName = "PELMUX_LIGHT_SENSOR_AVERAGE_LOCKED";

// The averaging thread sleeps this many times 10 ms between two samples.
inline constexpr std::uint32_t sampleSleeps = 80;
inline constexpr std::uint32_t sampleSleepMs = 10;
// stopAverageCalc and release pause this long.
inline constexpr std::uint32_t stopPauseMs = 70;

// The count value of a raw channel byte: bits 6-4 the chord, bits 3-0 the step; bit 7 (valid) is
// not part of it. 0 to 4015.
std::uint32_t countValue(std::uint8_t raw);

// The illuminance in the standard range of two valid raw bytes: with d = count 1 - count 2,
// 0 when d <= 0, else d * 0.39 * e^(-0.181 * (count 2 / d)^2) truncated toward zero. With channel 1
// at full scale (the sensor saturated) the formula would fall as more light raises channel 2: the
// reading is then the range's largest, saturatedIlluminance, whatever channel 2 shows.
std::uint16_t illuminance(std::uint8_t channel1Raw, std::uint8_t channel2Raw);

// The reading of a saturated sensor in the standard range: full scale on channel 1, none on
// channel 2, the largest the formula gives. No unsaturated reading reaches it.
inline constexpr std::uint16_t saturatedIlluminance = 1565;

// The extended range reads five times the standard one, in 16-bit arithmetic.
constexpr std::uint16_t extendedIlluminance(std::uint16_t lux)
{
    return static_cast<std::uint16_t>(lux * 5u);
}

// One window of lux samples: size n + 1 entries for a window of n, one always free. head is the
// index of the next write, tail the index of the oldest entry.
struct LuxRing {
    std::uint32_t head = 0;
    std::uint32_t tail = 0;
    std::uint32_t size = 0;
    std::vector<std::uint32_t> brightnessInLux;

    // A ring that has taken no sample yet: the first sample fills it whole, so head and tail
    // never meet again afterwards.
    bool fresh() const { return head == tail; }

    // A zero-filled ring for a window of n samples, or null when it cannot be had: the block the
    // ring stands for (16 + 4 n bytes) must stay below 2 GiB, the most a 32-bit process can ever
    // allocate, so that every build answers alike.
    static std::unique_ptr<LuxRing> make(std::uint32_t n);
};

// The averaging control record, shared by the caller's operations and the averaging thread.
struct CtrlData {
    const DriverLink* channel = nullptr;               // the object's driver link
    platform::SemaphoreHandle calcLock = nullptr;      // copy of averageCalcLock, given back at the end
    std::int32_t mode = Varnholt::RANGE_MODE_STANDARD; // a RangeMode
    std::int32_t range = Varnholt::RANGE_STANDARD;     // the sensor's current OperatingRange
    std::unique_ptr<LuxRing> pReject;                  // null when rejectWndSize is 0 or 1
    std::unique_ptr<LuxRing> pAverage;
    // The sum of the averageWndSize newest accepted samples. 64 bits: a window of more than
    // 65537 samples at full scale would overflow 32.
    std::uint64_t sum = 0;
    std::uint32_t averageWndSize = 0;
    std::uint32_t rejectWndSize = 0;
    std::uint32_t rejectDeltaInLux = 0;
    std::uint32_t average = 0;
    std::atomic<bool> running{false};                // set by the thread itself
    platform::SemaphoreHandle averageLock = nullptr; // guards this record
    std::atomic<bool> stop{false};                   // asks the thread to end
    platform::Alarm stopAlarm;                       // ends the thread's pause when stop is set
};

// Measures once: the lux (scaled for the extended range), the raw bytes and the range read.
// ERR_OPEN_FAILED (1), ERR_IOCTRL_OPERATION_FAILED (7), ERR_BUFFER_SIZE_ERROR (6) from the
// measurement request; ERR_INVALID_DATA_RANGE (8), storing nothing, when either byte lacks its
// valid bit. Then the range is read: when that read fails its code is the result, the lux stays
// unscaled and range is left as it was; lux and the raw bytes are stored in every case past the
// valid test.
ResultCode measure(const DriverLink& link, std::uint16_t& lux, std::uint8_t& channel1Raw,
                   std::uint8_t& channel2Raw, std::int32_t& range);

// Reads the operating range: 1, 7, 6, or ERR_INVALID_DATA_RANGE (8) when the byte is neither 0
// nor 1.
ResultCode readRange(const DriverLink& link, std::int32_t& range);

// Sends an operating range: ERR_OPEN_FAILED (1) first, then ERR_INVALID_PARAMETER_NULL (9) for a
// range other than 0 and 1 (no request), ERR_IOCTRL_OPERATION_FAILED (7) when the request fails.
// The returned count is not judged.
ResultCode sendRange(const DriverLink& link, std::int32_t range);

// What one measurement's channel 1 byte means for the range.
enum class RangeAction {
    Keep,           // the sample counts
    Saturated,      // full scale with no range left to switch to: dropped
    SwitchExtended, // full scale in the standard range under automatic mode: dropped, range up
    SwitchStandard, // low in the extended range under automatic mode: dropped, range down
};
RangeAction rangeActionFor(std::uint8_t channel1Raw, std::int32_t range, std::int32_t mode);

// Takes one accepted sample into the windows of the record (first-sample fill, reject window,
// running average). Answers 0, or ERR_INVALID_DATA_RANGE (8) when averageWndSize is 0. The caller
// holds averageLock.
std::uint32_t addSample(CtrlData& data, std::uint32_t lux);

// One step of the averaging thread: measure, switch the range or take the sample. Answers 0 to go
// on, any other value ends the thread. The caller holds averageLock.
std::uint32_t averageStep(CtrlData& data);

class Lightsensor_Imp final : public Varnholt::Lightsensor {
public:
    // Creates the unnamed record lock, opens the driver twice (the second handle is held but
    // unused), creates or opens "PELMUX_LIGHT_SENSOR_AVERAGE_LOCKED" and probes "DISPLAY".
    // Failures are not reported here: the operations answer them.
    Lightsensor_Imp();

    // The contract of each operation is the public interface's; what follows is how this object
    // keeps it.

    // measure, then the range read: two driver requests.
    ResultCode getIlluminanceChannels(std::uint16_t* lux, unsigned char* channel1Raw,
                                      unsigned char* channel2Raw) override;
    ResultCode getIlluminance(std::uint16_t* lux) override;
    // Until a new thread has taken its first sample, the average is the previous calculation's.
    ResultCode getAverageIlluminance(std::uint16_t* lux) override;
    // getAverageIlluminance for the library's own controller, which must not take the average
    // for light before there is any: sampled tells whether this calculation has taken its first
    // sample (until then lux is the previous calculation's average, or 0). ERR_NOT_SUPPORTED (2),
    // ERR_FUNCTION_NOT_RUNNING (21) as there; outputs written only on ERR_SUCCESS.
    ResultCode averageIlluminance(std::uint16_t& lux, bool& sampled);
    // The windows are made (LuxRing::make) and the range for the mode is sent (sendRange) under the
    // record lock, before the thread starts.
    ResultCode startAverageCalc(std::uint32_t averageWndSize, std::uint32_t rejectWndSize,
                                std::uint32_t rejectDeltaInLux, std::int32_t mode) override;
    // Sets the record's stop flag and alarm, then pauses stopPauseMs.
    ResultCode stopAverageCalc() override;
    // readRange.
    ResultCode getOperatingRange(std::int32_t* range) override;
    // The session-wide lock's test, then sendRange.
    ResultCode setOperatingRange(std::int32_t range) override;
    // Joins the averaging thread (the stop alarm ends its pause at once), then pauses stopPauseMs.
    void release() override;

private:
    ~Lightsensor_Imp();

    static void threadMain(void* data);
    // Waits for the end of this object's last averaging thread, if any.
    void joinAveragingThread();

    DriverLink secondLink_;
    platform::SemaphoreHandle averageCalcLock_ = nullptr;
    CtrlData sCtrlData_;
    DriverLink link_;
    bool displayPresent_ = true;
    platform::Mutex threadMutex_; // guards thread_
    platform::ThreadHandle thread_ = nullptr;
};

} // namespace pelmux
