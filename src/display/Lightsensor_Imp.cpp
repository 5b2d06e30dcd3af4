#include "display/Lightsensor_Imp.h"

#include "frame/Semaphores.h"
#include "frame/Trace.h"
#include "identity/FeatureProbe.h"
#include "platform/Memory.h"
#include "platform/Time.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace pelmux {

namespace {

constexpr std::uint8_t validBit = 0x80;
// Channel 1 at full scale (its byte without the valid bit).
constexpr std::uint8_t fullScale = 0x7F;
// Channel 1 at or below this (count 639) reads low enough for the standard range.
constexpr std::uint8_t lowInExtended = 0x54;

// The first count of each chord; the step within a chord is 2^chord counts.
constexpr std::uint32_t chordBase[8] = {0, 16, 49, 115, 247, 511, 1039, 2095};

// The largest ring block a 32-bit process could ever hold.
constexpr std::uint64_t maxRingBytes = 0x80000000u;

void fillRing(LuxRing& ring, std::uint32_t lux, const char* traceText)
{
    for (std::uint32_t i = 0; i < ring.size; ++i) {
        ring.brightnessInLux[i] = lux;
        trace(traceText, static_cast<long>(i));
    }
    ring.head = ring.size - 1;
}

// Gives a semaphore back only when this code took it.
class Taken {
public:
    Taken(platform::SemaphoreHandle semaphore, std::uint32_t timeoutMs)
        : semaphore_(semaphore), taken_(platform::takeSemaphore(semaphore, timeoutMs))
    {
    }
    ~Taken() { giveBack(); }
    Taken(const Taken&) = delete;
    Taken& operator=(const Taken&) = delete;

    bool taken() const { return taken_; }
    void giveBack()
    {
        if (taken_)
            platform::giveSemaphore(semaphore_);
        taken_ = false;
    }

private:
    platform::SemaphoreHandle semaphore_;
    bool taken_;
};

std::uint32_t switchRange(CtrlData& data, std::int32_t range)
{
    const ResultCode result = sendRange(*data.channel, range);
    if (result != Varnholt::ERR_SUCCESS) {
        trace("Error setOperatingRange\n");
        return result;
    }
    data.range = range;
    return 0;
}

} // namespace

std::uint32_t countValue(std::uint8_t raw)
{
    const std::uint32_t chord = (raw >> 4) & 0x07u;
    const std::uint32_t step = raw & 0x0Fu;
    return chordBase[chord] + (step << chord);
}

std::uint16_t illuminance(std::uint8_t channel1Raw, std::uint8_t channel2Raw)
{
    if ((channel1Raw & ~validBit) == fullScale)
        return saturatedIlluminance;
    const std::uint32_t cv1 = countValue(channel1Raw);
    const std::uint32_t cv2 = countValue(channel2Raw);
    const std::int32_t d = static_cast<std::int32_t>(cv1) - static_cast<std::int32_t>(cv2);
    if (d <= 0)
        return 0;
    const double ratio = static_cast<double>(cv2) / d;
    const double lux = d * 0.39 * std::exp(-0.181 * ratio * ratio);
    return static_cast<std::uint16_t>(static_cast<std::int32_t>(lux));
}

std::unique_ptr<LuxRing> LuxRing::make(std::uint32_t n)
{
    const std::uint64_t size = static_cast<std::uint64_t>(n) + 1;
    if (16 + 4 * static_cast<std::uint64_t>(n) >= maxRingBytes)
        return nullptr;
    return platform::unlessMemoryExhaustedAnywhere(std::unique_ptr<LuxRing>(), [size] {
        auto ring = std::make_unique<LuxRing>();
        ring->size = static_cast<std::uint32_t>(size);
        ring->brightnessInLux.assign(size, 0);
        return ring;
    });
}

ResultCode readRange(const DriverLink& link, std::int32_t& range)
{
    std::uint8_t value = 0;
    const ResultCode result = readRequest(link, lightGetRangeRequest, &value, 1);
    if (result != Varnholt::ERR_SUCCESS)
        return result;
    if (value != Varnholt::RANGE_STANDARD && value != Varnholt::RANGE_EXTENDED)
        return Varnholt::ERR_INVALID_DATA_RANGE;
    range = value;
    return Varnholt::ERR_SUCCESS;
}

ResultCode sendRange(const DriverLink& link, std::int32_t range)
{
    if (!link.isOpen())
        return Varnholt::ERR_OPEN_FAILED;
    if (range != Varnholt::RANGE_STANDARD && range != Varnholt::RANGE_EXTENDED)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    const auto value = static_cast<std::uint8_t>(range);
    return issue(link, lightSetRangeRequest, &value, 1, nullptr, 0, Count::Unchecked);
}

ResultCode measure(const DriverLink& link, std::uint16_t& lux, std::uint8_t& channel1Raw,
                   std::uint8_t& channel2Raw, std::int32_t& range)
{
    std::uint8_t raw[2] = {};
    ResultCode result = readRequest(link, lightMeasureRequest, raw, sizeof raw);
    if (result != Varnholt::ERR_SUCCESS)
        return result;
    // The sensor has no valid reading yet (it is still integrating).
    if ((raw[0] & validBit) == 0 || (raw[1] & validBit) == 0)
        return Varnholt::ERR_INVALID_DATA_RANGE;
    std::uint16_t value = illuminance(raw[0], raw[1]);
    std::int32_t rangeRead = Varnholt::RANGE_STANDARD;
    result = readRange(link, rangeRead);
    if (result == Varnholt::ERR_SUCCESS) {
        range = rangeRead;
        if (rangeRead == Varnholt::RANGE_EXTENDED)
            value = extendedIlluminance(value);
    }
    lux = value;
    channel1Raw = raw[0];
    channel2Raw = raw[1];
    return result;
}

RangeAction rangeActionFor(std::uint8_t channel1Raw, std::int32_t range, std::int32_t mode)
{
    const std::uint8_t scale = channel1Raw & ~validBit;
    const bool automatic = mode == Varnholt::RANGE_MODE_AUTO;
    if (scale == fullScale)
        return range == Varnholt::RANGE_EXTENDED || !automatic ? RangeAction::Saturated
                                                               : RangeAction::SwitchExtended;
    if (scale <= lowInExtended && range == Varnholt::RANGE_EXTENDED && automatic)
        return RangeAction::SwitchStandard;
    return RangeAction::Keep;
}

std::uint32_t addSample(CtrlData& data, std::uint32_t lux)
{
    LuxRing& average = *data.pAverage;
    // A fresh ring: the first sample stands for the whole window, so that the average starts at
    // the first reading instead of climbing from 0.
    if (average.fresh()) {
        trace("First sample\n");
        if (data.pReject)
            fillRing(*data.pReject, lux, "pReject->brightnessInLux[%ld]\n");
        fillRing(average, lux, "pAverage->brightnessInLux[%ld]\n");
        data.average = lux;
        data.sum = static_cast<std::uint64_t>(data.averageWndSize) * lux;
    }

    if (data.pReject) {
        LuxRing& reject = *data.pReject;
        reject.brightnessInLux[reject.head] = lux;
        reject.head = (reject.head + 1) % reject.size;
        reject.tail = (reject.tail + 1) % reject.size;
        std::uint32_t low = reject.brightnessInLux[reject.tail];
        std::uint32_t high = low;
        for (std::uint32_t i = reject.tail; i != reject.head; i = (i + 1) % reject.size) {
            low = std::min(low, reject.brightnessInLux[i]);
            high = std::max(high, reject.brightnessInLux[i]);
        }
        if (high - low > data.rejectDeltaInLux) {
            trace("Sample rejected\n");
            return 0;
        }
    }

    average.brightnessInLux[average.head] = lux;
    data.sum -= average.brightnessInLux[average.tail];
    average.tail = (average.tail + 1) % average.size;
    data.sum += average.brightnessInLux[average.head];
    if (data.averageWndSize == 0) {
        trace("Error sCtrlData.averageWndSize = 0\n");
        return Varnholt::ERR_INVALID_DATA_RANGE;
    }
    data.average = static_cast<std::uint32_t>(data.sum / data.averageWndSize);
    average.head = (average.head + 1) % average.size;
    trace("Brightness in Lux: %ld\n", static_cast<long>(data.average));
    return 0;
}

std::uint32_t averageStep(CtrlData& data)
{
    std::uint16_t lux = 0;
    std::uint8_t channel1 = 0;
    std::uint8_t channel2 = 0;
    const ResultCode result = measure(*data.channel, lux, channel1, channel2, data.range);
    trace("brightness[%d], ch1 [%d] ch2[%d]\n", lux, channel1, channel2);
    if (result == Varnholt::ERR_INVALID_DATA_RANGE) {
        trace("Measure not ready!\n");
        return 0;
    }
    if (result != Varnholt::ERR_SUCCESS) {
        trace("Error getIlluminance\n");
        return result;
    }
    switch (rangeActionFor(channel1, data.range, data.mode)) {
    case RangeAction::Saturated:
        trace("Error light sensor saturation\n");
        return 0;
    case RangeAction::SwitchExtended:
        trace("Set range extended\n");
        return switchRange(data, Varnholt::RANGE_EXTENDED);
    case RangeAction::SwitchStandard:
        trace("Set range standard\n");
        return switchRange(data, Varnholt::RANGE_STANDARD);
    case RangeAction::Keep:
        break;
    }
    return addSample(data, lux);
}

Lightsensor_Imp::Lightsensor_Imp()
{
    createSemaphore(nullptr, sCtrlData_.averageLock);
    link_.open();
    secondLink_.open();
    createSemaphore(averageCalcLockName, averageCalcLock_);
    sCtrlData_.channel = &link_;
    sCtrlData_.calcLock = averageCalcLock_;
    displayPresent_ = probeFeature(Feature::Display);
}

Lightsensor_Imp::~Lightsensor_Imp() = default;

void Lightsensor_Imp::release()
{
    // A running averaging thread works on this object's record: it ends and is waited for first.
    {
        Taken record(sCtrlData_.averageLock, platform::waitForever);
        sCtrlData_.stop = true;
        sCtrlData_.stopAlarm.wake();
    }
    joinAveragingThread();
    secondLink_.close();
    platform::sleepMs(stopPauseMs);
    platform::closeSemaphore(averageCalcLock_);
    link_.close();
    sCtrlData_.pReject.reset();
    sCtrlData_.pAverage.reset();
    platform::closeSemaphore(sCtrlData_.averageLock);
    delete this;
}

void Lightsensor_Imp::joinAveragingThread()
{
    std::lock_guard lock(threadMutex_);
    platform::joinThread(thread_);
    thread_ = nullptr;
}

ResultCode Lightsensor_Imp::getIlluminanceChannels(std::uint16_t* lux, unsigned char* channel1Raw,
                                                   unsigned char* channel2Raw)
{
    if (!displayPresent_)
        return Varnholt::ERR_NOT_SUPPORTED;
    if (lux == nullptr || channel1Raw == nullptr || channel2Raw == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    std::int32_t range = Varnholt::RANGE_STANDARD;
    return measure(link_, *lux, *channel1Raw, *channel2Raw, range);
}

ResultCode Lightsensor_Imp::getIlluminance(std::uint16_t* lux)
{
    if (!displayPresent_)
        return Varnholt::ERR_NOT_SUPPORTED;
    if (lux == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    std::uint8_t channel1 = 0;
    std::uint8_t channel2 = 0;
    std::int32_t range = Varnholt::RANGE_STANDARD;
    return measure(link_, *lux, channel1, channel2, range);
}

ResultCode Lightsensor_Imp::getAverageIlluminance(std::uint16_t* lux)
{
    if (!displayPresent_)
        return Varnholt::ERR_NOT_SUPPORTED;
    if (lux == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    bool sampled = false;
    return averageIlluminance(*lux, sampled);
}

ResultCode Lightsensor_Imp::averageIlluminance(std::uint16_t& lux, bool& sampled)
{
    if (!displayPresent_)
        return Varnholt::ERR_NOT_SUPPORTED;
    Taken record(sCtrlData_.averageLock, platform::waitForever);
    if (!sCtrlData_.running)
        return Varnholt::ERR_FUNCTION_NOT_RUNNING;
    lux = static_cast<std::uint16_t>(sCtrlData_.average);
    // The rings are renewed by every start, before its thread runs.
    sampled = sCtrlData_.pAverage != nullptr && !sCtrlData_.pAverage->fresh();
    return Varnholt::ERR_SUCCESS;
}

ResultCode Lightsensor_Imp::startAverageCalc(std::uint32_t averageWndSize, std::uint32_t rejectWndSize,
                                             std::uint32_t rejectDeltaInLux, std::int32_t mode)
{
    if (!displayPresent_)
        return Varnholt::ERR_NOT_SUPPORTED;
    if (rejectDeltaInLux == 0 || averageWndSize == 0)
        return Varnholt::ERR_INVALID_DATA_RANGE;
    if (!platform::takeSemaphore(averageCalcLock_, 0))
        return Varnholt::ERR_AVERAGE_CALC_STARTED;
    // This object's last thread, if any, has given the lock back but may not have ended yet:
    // wait for its end, so that never two threads work on the record.
    joinAveragingThread();

    ResultCode result = Varnholt::ERR_SUCCESS;
    {
        Taken record(sCtrlData_.averageLock, platform::waitForever);
        if (!record.taken()) {
            // Without the record lock the thread and the callers could not share the record.
            platform::giveSemaphore(averageCalcLock_);
            return Varnholt::ERR_INITIALISATION_FAILED;
        }
        sCtrlData_.averageWndSize = averageWndSize;
        sCtrlData_.rejectWndSize = rejectWndSize;
        sCtrlData_.rejectDeltaInLux = rejectDeltaInLux;
        sCtrlData_.mode = mode;
        sCtrlData_.pReject.reset();
        sCtrlData_.pAverage.reset();

        if (rejectWndSize > 1)
            sCtrlData_.pReject = LuxRing::make(rejectWndSize);
        sCtrlData_.pAverage = LuxRing::make(averageWndSize);
        if ((rejectWndSize > 1 && !sCtrlData_.pReject) || !sCtrlData_.pAverage) {
            trace("Memory alocation faild\n");
            sCtrlData_.stop = true;
            sCtrlData_.stopAlarm.wake();
            result = Varnholt::ERR_INITIALISATION_FAILED;
        } else {
            if (mode == Varnholt::RANGE_MODE_STANDARD || mode == Varnholt::RANGE_MODE_AUTO)
                sCtrlData_.range = Varnholt::RANGE_STANDARD;
            else if (mode == Varnholt::RANGE_MODE_EXTENDED)
                sCtrlData_.range = Varnholt::RANGE_EXTENDED;
            result = sendRange(link_, sCtrlData_.range);
        }
    }
    if (result != Varnholt::ERR_SUCCESS) {
        platform::giveSemaphore(averageCalcLock_);
        return result;
    }

    trace("startThread\n");
    sCtrlData_.stop = false;
    sCtrlData_.stopAlarm.reset();
    std::lock_guard lock(threadMutex_);
    thread_ = platform::startThread(threadMain, &sCtrlData_);
    if (thread_ == nullptr) {
        platform::giveSemaphore(averageCalcLock_);
        return Varnholt::ERR_CREATING_THREAD;
    }
    return Varnholt::ERR_SUCCESS;
}

void Lightsensor_Imp::threadMain(void* argument)
{
    CtrlData& data = *static_cast<CtrlData*>(argument);
    trace("Thread started.\n");
    data.running = true;
    bool holdsRecord = false;
    for (;;) {
        // About 800 ms between samples (80 pauses of 10 ms), left at once when stop is set: one
        // wait that the stop request ends, so that the thread wakes once per sample, not 80 times.
        if (!data.stop)
            data.stopAlarm.sleep(sampleSleeps * sampleSleepMs);
        holdsRecord = platform::takeSemaphore(data.averageLock, platform::waitForever);
        if (data.stop)
            break;
        const std::uint32_t result = averageStep(data);
        platform::giveSemaphore(data.averageLock);
        holdsRecord = false;
        if (result != 0)
            break;
    }
    if (holdsRecord)
        platform::giveSemaphore(data.averageLock);
    platform::giveSemaphore(data.calcLock);
    data.running = false;
    trace("Exit Loop\n");
}

ResultCode Lightsensor_Imp::stopAverageCalc()
{
    if (!displayPresent_)
        return Varnholt::ERR_NOT_SUPPORTED;
    {
        Taken record(sCtrlData_.averageLock, platform::waitForever);
        sCtrlData_.stop = true;
        sCtrlData_.stopAlarm.wake();
    }
    platform::sleepMs(stopPauseMs);
    return Varnholt::ERR_SUCCESS;
}

ResultCode Lightsensor_Imp::getOperatingRange(std::int32_t* range)
{
    if (!displayPresent_)
        return Varnholt::ERR_NOT_SUPPORTED;
    if (range == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    return readRange(link_, *range);
}

ResultCode Lightsensor_Imp::setOperatingRange(std::int32_t range)
{
    if (!displayPresent_)
        return Varnholt::ERR_NOT_SUPPORTED;
    // Only while no averaging calculation runs anywhere in the session: it owns the range.
    if (!platform::takeSemaphore(averageCalcLock_, 0))
        return Varnholt::ERR_AVERAGE_CALC_STARTED;
    platform::giveSemaphore(averageCalcLock_);
    return sendRange(link_, range);
}

} // namespace pelmux
