#include "display/TouchScreenCalib_Imp.h"

#include "display/TouchParameters.h"

#include <iterator>

namespace pelmux {

namespace {

struct CalibrationKind {
    std::uint8_t driverByte;  // how the controller names the kind
    unsigned char finalPoint; // the highest point number the kind has
};

// Kinds 1 to 4, by kind - 1.
constexpr CalibrationKind calibrationKinds[] = {{1, 5}, {6, 5}, {10, 9}, {14, 13}};

// The controller's parameter that carries the calibration point: written, it names the point the
// user touches now; read, byte 3 of the answer is the point the controller has taken.
constexpr std::uint8_t calibrationPointCode = 1;

// The calibration values by index; indices 2 and 3 are not in code order (16, then 15).
constexpr std::uint8_t calibrationValueCodes[] = {13, 14, 16, 15, 17, 18};

bool validValueIndex(std::int32_t index)
{
    return static_cast<std::uint32_t>(index) < std::size(calibrationValueCodes);
}

} // namespace

ResultCode TouchScreenCalib_Imp::setCalibrationMode(std::int32_t kind)
{
    // The kind is judged before the open test.
    if (kind < 1 || kind > static_cast<std::int32_t>(std::size(calibrationKinds)))
        return Varnholt::ERR_INVALID_DATA_RANGE;
    if (!link_.isOpen())
        return Varnholt::ERR_OPEN_FAILED;
    const std::uint8_t byte = calibrationKinds[kind - 1].driverByte;
    return issue(link_, calibrationModeWriteRequest, &byte, 1, nullptr, 0, Count::Unchecked);
}

ResultCode TouchScreenCalib_Imp::getCalibrationMode(std::int32_t* kind)
{
    if (!link_.isOpen())
        return Varnholt::ERR_OPEN_FAILED;
    if (kind == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    std::uint8_t byte = 0;
    const ResultCode result = issue(link_, calibrationModeReadRequest, nullptr, 0, &byte, 1, Count::Output);
    if (result != Varnholt::ERR_SUCCESS)
        return result;
    // A byte that names no kind means no calibration is running.
    std::int32_t running = 0;
    for (std::size_t i = 0; i < std::size(calibrationKinds); ++i)
        if (calibrationKinds[i].driverByte == byte)
            running = static_cast<std::int32_t>(i + 1);
    *kind = running;
    return Varnholt::ERR_SUCCESS;
}

ResultCode TouchScreenCalib_Imp::setCalibrationPoint(unsigned char point)
{
    std::int32_t kind = 0;
    if (const ResultCode result = getCalibrationMode(&kind); result != Varnholt::ERR_SUCCESS)
        return result;
    if (kind == 0)
        return Varnholt::ERR_FUNCTION_NOT_RUNNING;
    if (point > calibrationKinds[kind - 1].finalPoint)
        return Varnholt::ERR_INVALID_DATA_RANGE;
    if (!link_.isOpen())
        return Varnholt::ERR_OPEN_FAILED;
    // The second byte means nothing to the controller.
    return writeTouchParameter(link_, calibrationPointCode, 0, point);
}

ResultCode TouchScreenCalib_Imp::checkCalibrationPoint(unsigned char* done, unsigned char point)
{
    if (!link_.isOpen())
        return Varnholt::ERR_OPEN_FAILED;
    if (done == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    std::uint8_t answer[4] = {};
    const ResultCode result = readTouchParameter(link_, calibrationPointCode, answer);
    if (result != Varnholt::ERR_SUCCESS)
        return result;
    *done = answer[3] == point ? 1 : 0;
    return Varnholt::ERR_SUCCESS;
}

ResultCode TouchScreenCalib_Imp::getCalibrationValue(std::int32_t index, std::uint16_t* value)
{
    if (!validValueIndex(index))
        return Varnholt::ERR_INVALID_DATA_RANGE;
    if (!link_.isOpen())
        return Varnholt::ERR_OPEN_FAILED;
    if (value == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    std::uint8_t answer[4] = {};
    const ResultCode result = readTouchParameter(link_, calibrationValueCodes[index], answer);
    if (result != Varnholt::ERR_SUCCESS)
        return result;
    *value = touchParameterValue(answer);
    return Varnholt::ERR_SUCCESS;
}

ResultCode TouchScreenCalib_Imp::setCalibrationValue(std::int32_t index, std::uint16_t value)
{
    if (!validValueIndex(index))
        return Varnholt::ERR_INVALID_DATA_RANGE;
    if (!link_.isOpen())
        return Varnholt::ERR_OPEN_FAILED;
    return writeTouchParameter(link_, calibrationValueCodes[index], 0, value);
}

} // namespace pelmux
