// Every operation of every interface, by slot, with the kinds of its arguments: the table that the
// sweeps reaching every slot share (the Linux tests, tests/library/UnitExpectationsTest.cpp, and the
// Windows program under wine, tests/windows/UnitChecks.cpp). The Linux tests hold it against the
// public headers, so that an operation added to an interface without a row here fails them.
//
// The null sweep: each pointer or reference argument of each operation in turn is null while the
// others are real, as a program that calls by slot number may pass them. The operation answers
// its row's code and writes none of its other outputs.
//
// Plain C++: no test framework. The runner takes an environment as UnitExpectations.h describes.
#pragma once

#include "SlotCall.h"

#include <pelmux/Adc.h>
#include <pelmux/ResultCode.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace pelmux::shared {

struct Operation {
    const char* factory;
    int slot;
    const char* name; // as the public header declares it
    // One letter per argument, in order:
    //   n a number of any integer width (one word), d a double, f a float;
    //   o an output the operation writes (a pointer or a reference);
    //   t a text buffer the operation writes (its size follows as an n);
    //   c an input text (a name, a key, a path); i input bytes.
    const char* args;
    // The n arguments of a sweep's calls, in order: values the operation's range checks accept.
    std::vector<Word> numbers = {};
    // The answer when a pointer is null.
    int nullCode = Varnholt::ERR_INVALID_PARAMETER_NULL;
    // The outputs before the null one may be written: the interface reads them one by one straight
    // into the caller's places and fails at the null one.
    bool fillsInOrder = false;
    const char* text = ""; // the c arguments that are not null
};

// clang-format off
inline const std::vector<Operation>& operations()
{
    using namespace Varnholt;
    static const std::vector<Operation> table = {
        {"GetAbout", 0, "getPcbSerial", "tn", {64}},
        {"GetAbout", 1, "getUnitSerial", "tn", {64}},
        {"GetAbout", 2, "getPcbArticle", "tn", {64}},
        {"GetAbout", 3, "getManufacturingDate", "tn", {64}},
        {"GetAbout", 4, "getPcbRevision", "tn", {64}},
        {"GetAbout", 5, "getProductRevision", "tn", {64}},
        {"GetAbout", 6, "getProductArticle", "tn", {64}},
        {"GetAbout", 7, "getEthernetCount", "o"},
        {"GetAbout", 8, "getCanCount", "o"},
        {"GetAbout", 9, "getVideoCount", "o"},
        {"GetAbout", 10, "getUsbHostCount", "o"},
        {"GetAbout", 11, "getSerialCount", "o"},
        {"GetAbout", 12, "getExpansionPcbSerial", "tn", {64}},
        {"GetAbout", 13, "getExpansionPcbArticle", "tn", {64}},
        {"GetAbout", 14, "getExpansionDate", "tn", {64}},
        {"GetAbout", 15, "getExpansionPcbRevision", "tn", {64}},
        {"GetAbout", 16, "hasWlan", "o"},
        {"GetAbout", 17, "hasGps", "o"},
        {"GetAbout", 18, "hasGsm", "o"},
        {"GetAbout", 19, "hasBluetooth", "o"},
        {"GetAbout", 20, "release", ""},
        {"GetAbout", 21, "getDigitalIoCount", "o"},
        {"GetAbout", 22, "hasDisplay", "o"},
        {"GetAbout", 23, "hasTouchScreen", "o"},

        {"GetAdc", 0, "getVoltage", "no", {VOLTAGE_24V}},
        {"GetAdc", 1, "release", ""},

        {"GetAuxVersion", 0, "getFpgaVersion", "oooo"},
        {"GetAuxVersion", 1, "getSupervisorVersion", "oooo"},
        {"GetAuxVersion", 2, "getFrontVersion", "oooo"},
        {"GetAuxVersion", 3, "getLibraryVersion", "oooo"},
        {"GetAuxVersion", 4, "getOsImageVersion", "oooo"},
        {"GetAuxVersion", 5, "getExtraVersion", "oooo"},
        {"GetAuxVersion", 6, "release", ""},

        {"GetBacklight", 0, "getIntensity", "o"},
        {"GetBacklight", 1, "setIntensity", "n"},
        {"GetBacklight", 2, "getStatus", "o"},
        {"GetBacklight", 3, "enableAutomaticBacklight", ""},
        {"GetBacklight", 4, "disableAutomaticBacklight", ""},
        {"GetBacklight", 5, "getAutomaticBacklightStatus", "o"},
        {"GetBacklight", 6, "setSoftTransitions", "n"},
        {"GetBacklight", 7, "getAutomaticBacklightParameters", "oo"},
        {"GetBacklight", 8, "setAutomaticBacklightFilter", "nnnn"},
        {"GetBacklight", 9, "getAutomaticBacklightFilter", "oooo"},
        {"GetBacklight", 10, "getLedDimming", "o"},
        {"GetBacklight", 11, "setLedDimming", "n"},
        {"GetBacklight", 12, "release", ""},

        {"GetBattery", 0, "getBatteryPresent", "o"},
        {"GetBattery", 1, "getChargeLevel", "o"},
        {"GetBattery", 2, "getRegister4State", "o"},
        {"GetBattery", 3, "getRegister4Flag", "o"},
        {"GetBattery", 4, "getRegister3Value", "o"},
        {"GetBattery", 5, "getRegister5State", "o"},
        {"GetBattery", 6, "getTimeRecord", "o"},
        {"GetBattery", 7, "getTemperatures", "oo"},
        {"GetBattery", 8, "getVersionText", "tn", {64}},
        // A null output fails its register's read as a failed request does.
        {"GetBattery", 9, "getRegisters7To10", "oooo", {}, ERR_IOCTRL_OPERATION_FAILED, true},
        {"GetBattery", 10, "getIdentText", "tn", {64}},
        {"GetBattery", 11, "release", ""},

        {"GetBuzzer", 0, "getFrequency", "o"},
        {"GetBuzzer", 1, "getVolume", "o"},
        {"GetBuzzer", 2, "isSounding", "o"},
        {"GetBuzzer", 3, "setFrequency", "n"},
        {"GetBuzzer", 4, "setVolume", "n"},
        {"GetBuzzer", 5, "setSounding", "n"},
        {"GetBuzzer", 6, "buzz", "nn"},
        {"GetBuzzer", 7, "release", ""},

        {"GetCanSetting", 0, "getBaudRate", "no", {1}},
        {"GetCanSetting", 1, "getFrameType", "no", {1}},
        {"GetCanSetting", 2, "setBaudRate", "nn"},
        {"GetCanSetting", 3, "setFrameType", "nn"},
        {"GetCanSetting", 4, "release", ""},

        {"GetConfig", 0, "getSelector1", "o"},
        {"GetConfig", 1, "getSelector2", "o"},
        {"GetConfig", 2, "getSelector3", "o"},
        {"GetConfig", 3, "getSelector4", "o"},
        {"GetConfig", 4, "getPairedWord1", "o"},
        {"GetConfig", 5, "getLongSetting", "o"},
        {"GetConfig", 6, "getPairedWord2", "o"},
        {"GetConfig", 7, "getCanPowerConfig", "o"},
        {"GetConfig", 8, "getVideoPowerConfig", "o"},
        {"GetConfig", 9, "getWordSetting", "o"},
        {"GetConfig", 10, "getVoltageSetting", "o"},
        {"GetConfig", 11, "getTemperatureSetting", "o"},
        {"GetConfig", 12, "getFlagSetting", "o"},
        {"GetConfig", 13, "setSelector1", "n"},
        {"GetConfig", 14, "setSelector2", "n"},
        {"GetConfig", 15, "setSelector3", "n"},
        {"GetConfig", 16, "setSelector4", "n"},
        {"GetConfig", 17, "setPairedWord1", "n"},
        {"GetConfig", 18, "setLongSetting", "n"},
        {"GetConfig", 19, "setPairedWord2", "n"},
        {"GetConfig", 20, "setCanPowerConfig", "n"},
        {"GetConfig", 21, "setVideoPowerConfig", "n"},
        {"GetConfig", 22, "setWordSetting", "n"},
        {"GetConfig", 23, "setVoltageSetting", "d"},
        {"GetConfig", 24, "setTemperatureSetting", "n"},
        {"GetConfig", 25, "setFlagSetting", "n"},
        {"GetConfig", 26, "release", ""},

        {"GetDiagnostic", 0, "getWord1", "o"},
        {"GetDiagnostic", 1, "getWord2", "o"},
        {"GetDiagnostic", 2, "getTemperature", "noo", {0}},
        {"GetDiagnostic", 3, "getWord3", "o"},
        {"GetDiagnostic", 4, "getWord4", "o"},
        {"GetDiagnostic", 5, "getWord5", "o"},
        {"GetDiagnostic", 6, "getRecord", "o"},
        {"GetDiagnostic", 7, "getWordPair", "oo"},
        {"GetDiagnostic", 8, "getWord6", "o"},
        {"GetDiagnostic", 9, "sendCommand", ""},
        {"GetDiagnostic", 10, "release", ""},

        {"GetDigIO", 0, "getDigitalInputs", "o"},
        {"GetDigIO", 1, "release", ""},

        // Blocking, so that a start that got past the null test would not leave a job running.
        {"GetFirmwareUpgrade", 0, "startFpgaUpgrade", "cn", {1}},
        {"GetFirmwareUpgrade", 1, "startFpgaVerification", "cn", {1}},
        {"GetFirmwareUpgrade", 2, "startSSUpgrade", "cn", {1}},
        {"GetFirmwareUpgrade", 3, "startSSVerification", "cn", {1}},
        {"GetFirmwareUpgrade", 4, "startFrontUpgrade", "cn", {1}},
        {"GetFirmwareUpgrade", 5, "startFrontVerification", "cn", {1}},
        {"GetFirmwareUpgrade", 6, "getUpgradeStatus", "on", {0}},
        {"GetFirmwareUpgrade", 7, "notifyService", ""},
        {"GetFirmwareUpgrade", 8, "release", ""},

        {"GetFrontLED", 0, "getSignal", "oo"},
        {"GetFrontLED", 1, "getOnTime", "o"},
        {"GetFrontLED", 2, "getOffTime", "o"},
        {"GetFrontLED", 3, "getTiming2", "o"},
        {"GetFrontLED", 4, "getTiming3", "o"},
        {"GetFrontLED", 5, "getStandardColor", "o"},
        {"GetFrontLED", 6, "getColor", "ooo"},
        {"GetFrontLED", 7, "getControlFlag", "o"},
        {"GetFrontLED", 8, "setSignal", "dn"},
        {"GetFrontLED", 9, "setOnTime", "n"},
        {"GetFrontLED", 10, "setOffTime", "n"},
        {"GetFrontLED", 11, "setTiming2", "n"},
        {"GetFrontLED", 12, "setTiming3", "n"},
        {"GetFrontLED", 13, "setStandardColor", "n"},
        {"GetFrontLED", 14, "setColor", "nnn"},
        {"GetFrontLED", 15, "setOff", ""},
        {"GetFrontLED", 16, "setControlFlag", "n"},
        {"GetFrontLED", 17, "release", ""},

        {"GetLightsensor", 0, "getIlluminanceChannels", "ooo"},
        {"GetLightsensor", 1, "getIlluminance", "o"},
        {"GetLightsensor", 2, "getAverageIlluminance", "o"},
        {"GetLightsensor", 3, "startAverageCalc", "nnnn"},
        {"GetLightsensor", 4, "stopAverageCalc", ""},
        {"GetLightsensor", 5, "getOperatingRange", "o"},
        {"GetLightsensor", 6, "setOperatingRange", "n"},
        {"GetLightsensor", 7, "release", ""},

        {"GetPelmuxPrivate", 0, "getIdentityField", "nctn", {0, 64}, ERR_INVALID_PARAMETER_NULL, false, "PCB_SERIAL"},
        {"GetPelmuxPrivate", 1, "setIdentityField", "ncc", {0}, ERR_INVALID_PARAMETER_NULL, false, "PCB_SERIAL"},
        {"GetPelmuxPrivate", 2, "readSupervisorRegister", "no", {1}},
        {"GetPelmuxPrivate", 3, "writeSupervisorRegister", "nn"},
        {"GetPelmuxPrivate", 4, "startBacklightController", ""},
        {"GetPelmuxPrivate", 5, "setSetting", "cc", {}, ERR_INVALID_PARAMETER_NULL, false, "Sweep_key"},
        {"GetPelmuxPrivate", 6, "getSetting", "ctn", {64}, ERR_INVALID_PARAMETER_NULL, false, "Sweep_key"},
        {"GetPelmuxPrivate", 7, "notSupported", ""},
        {"GetPelmuxPrivate", 8, "release", ""},
        {"GetPelmuxPrivate", 9, "readSupervisorRegisterExt", "no", {1}},
        {"GetPelmuxPrivate", 10, "writeSupervisorRegisterExt", "nn"},

        {"GetPower", 0, "getDisplayPowerStatus", "o"},
        {"GetPower", 1, "getCanPowerStatus", "o"},
        {"GetPower", 2, "getVideoPowerStatus", "o"},
        {"GetPower", 3, "getAuxPowerStatus", "o"},
        {"GetPower", 4, "setDisplayPowerStatus", "n"},
        {"GetPower", 5, "setCanPowerStatus", "n"},
        {"GetPower", 6, "setVideoPowerStatus", "n"},
        {"GetPower", 7, "setAuxPowerStatus", "n"},
        {"GetPower", 8, "getPowerStateCode", "o"},
        {"GetPower", 9, "sendPowerCommand", ""},
        {"GetPower", 10, "release", ""},

        {"GetPowerMgr", 0, "setConfiguration", "n"},
        {"GetPowerMgr", 1, "getConfiguration", "o"},
        {"GetPowerMgr", 2, "getRequest", "o"},
        {"GetPowerMgr", 3, "setAppReady", ""},
        {"GetPowerMgr", 4, "getResumeFlag", "o"},
        {"GetPowerMgr", 5, "release", ""},

        {"GetTelematics", 0, "getTelematicsAvailable", "o"},
        {"GetTelematics", 1, "getGPRSPowerStatus", "o"},
        {"GetTelematics", 2, "getGPRSPowerAtStartup", "o"},
        {"GetTelematics", 3, "getWLANPowerStatus", "o"},
        {"GetTelematics", 4, "getWLANPowerAtStartup", "o"},
        {"GetTelematics", 5, "getGPSInputStatus", "o"},
        {"GetTelematics", 6, "setGPRSPowerStatus", "n"},
        {"GetTelematics", 7, "setGPRSPowerAtStartup", "n"},
        {"GetTelematics", 8, "setWLANPowerStatus", "n"},
        {"GetTelematics", 9, "setWLANPowerAtStartup", "n"},
        {"GetTelematics", 10, "release", ""},
        {"GetTelematics", 11, "getBTPowerStatus", "o"},
        {"GetTelematics", 12, "getBTPowerAtStartup", "o"},
        {"GetTelematics", 13, "getGPSPowerStatus", "o"},
        {"GetTelematics", 14, "getGPSPowerAtStartup", "o"},
        {"GetTelematics", 15, "setBTPowerStatus", "n"},
        {"GetTelematics", 16, "setBTPowerAtStartup", "n"},
        {"GetTelematics", 17, "setGPSPowerStatus", "n"},
        {"GetTelematics", 18, "setGPSPowerAtStartup", "n"},

        {"GetTouchScreen", 0, "getTouchMode", "o"},
        {"GetTouchScreen", 1, "getTouchValue", "o"},
        {"GetTouchScreen", 2, "setTouchMode", "n"},
        {"GetTouchScreen", 3, "setTouchValue", "n"},
        {"GetTouchScreen", 4, "setTouchParameter", "nn"},
        {"GetTouchScreen", 5, "getTouchParameter", "no", {5}},
        {"GetTouchScreen", 6, "release", ""},

        {"GetTouchScreenCalib", 0, "setCalibrationMode", "n"},
        {"GetTouchScreenCalib", 1, "getCalibrationMode", "o"},
        {"GetTouchScreenCalib", 2, "setCalibrationPoint", "n"},
        {"GetTouchScreenCalib", 3, "checkCalibrationPoint", "on", {1}},
        {"GetTouchScreenCalib", 4, "getCalibrationValue", "no", {0}},
        {"GetTouchScreenCalib", 5, "setCalibrationValue", "nn"},
        {"GetTouchScreenCalib", 6, "release", ""},

        // Video objects reach their devices after init (see preparations()).
        {"GetVideo", 0, "init", "n"},
        {"GetVideo", 1, "setEnabled", "n"},
        {"GetVideo", 2, "setLineMode", "n"},
        {"GetVideo", 3, "getLineMode", "o"},
        {"GetVideo", 4, "setAuxFlag", "n"},
        {"GetVideo", 5, "getAuxFlag", "o"},
        {"GetVideo", 6, "setControlWord", "n"},
        {"GetVideo", 7, "getControlWord", "o"},
        {"GetVideo", 8, "setByteParameters", "nnn"},
        {"GetVideo", 9, "getByteParameters", "ooo"},
        {"GetVideo", 10, "setVideoArea", "nnnn"},
        {"GetVideo", 11, "getVideoArea", "oooo"},
        {"GetVideo", 12, "getSignalInfo", "ooo"},
        {"GetVideo", 13, "getVideoStandard", "o"},
        {"GetVideo", 14, "getControlByte", "o"},
        {"GetVideo", 15, "setScaling", "ff"},
        {"GetVideo", 16, "getScaling", "oo"},
        {"GetVideo", 17, "enableCapture", "n"},
        {"GetVideo", 18, "saveSnapshot", "cn", {0}},
        {"GetVideo", 19, "readRawFrame", "onn", {64, 0}},
        {"GetVideo", 20, "getSnapshot", "oonn", {0, 0}},
        {"GetVideo", 21, "convertToBitmap", "ooinnn", {64, 0, 0}},
        {"GetVideo", 22, "freeSnapshot", "i"},
        {"GetVideo", 23, "minimizeArea", ""},
        {"GetVideo", 24, "restoreArea", ""},
        {"GetVideo", 25, "writeDecoderRegister", "nn"},
        {"GetVideo", 26, "readDecoderRegister", "no", {0x8C}},
        {"GetVideo", 27, "setCropping", "nnnn"},
        {"GetVideo", 28, "getCropping", "oooo"},
        {"GetVideo", 29, "release", ""},
    };
    return table;
}
// clang-format on

// A call that puts a fresh object into working order before a sweep calls it.
struct Preparation {
    const char* factory;
    int slot;
    std::vector<Word> words;
};

inline const std::vector<Preparation>& preparations()
{
    static const std::vector<Preparation> calls = {
        {"GetVideo", 0, {1}}, // init(1): channel 1
        // setSetting("Sweep_key", "1"): getSetting tests its buffer once the value is found.
        {"GetPelmuxPrivate", 5, {reinterpret_cast<Word>("Sweep_key"), reinterpret_cast<Word>("1")}},
    };
    return calls;
}

// The release slot of each interface; -1 for a factory the table does not know.
inline int releaseSlotOf(const std::string& factory)
{
    for (const auto& op : operations())
        if (factory == op.factory && std::strcmp(op.name, "release") == 0)
            return op.slot;
    return -1;
}

inline bool isPointerKind(char kind)
{
    return kind == 'o' || kind == 't' || kind == 'c' || kind == 'i';
}

namespace detail {

inline std::size_t pointerCount(const Operation& op)
{
    std::size_t count = 0;
    for (const char* k = op.args; *k != '\0'; ++k)
        count += isPointerKind(*k) ? 1 : 0;
    return count;
}

inline std::size_t numberCount(const Operation& op)
{
    return static_cast<std::size_t>(std::count(op.args, op.args + std::strlen(op.args), 'n'));
}

} // namespace detail

// Calls the operation once with its `nullAt`th pointer argument null; checks the code and that no
// other output changed.
template <class Env> void sweepOnce(Env& env, void* object, const Operation& op, std::size_t nullAt)
{
    const std::string what = std::string(op.factory) + " slot " + std::to_string(op.slot) + " (" + op.name +
                             "), pointer " + std::to_string(nullAt) + " null";
    constexpr unsigned char sentinel = 0xA5;
    constexpr std::size_t bufferSize = 64;
    std::vector<std::vector<unsigned char>> buffers;
    buffers.reserve(std::strlen(op.args));
    std::vector<Word> words;
    std::vector<std::size_t> kept; // the buffers that must keep the sentinel
    std::size_t pointer = 0;
    std::size_t number = 0;
    for (const char* k = op.args; *k != '\0'; ++k) {
        if (*k == 'n') {
            words.push_back(op.numbers.at(number++));
            continue;
        }
        const bool isNull = pointer++ == nullAt;
        if (isNull) {
            words.push_back(0);
        } else if (*k == 'c') {
            words.push_back(reinterpret_cast<Word>(op.text));
        } else {
            buffers.emplace_back(bufferSize, sentinel);
            words.push_back(reinterpret_cast<Word>(buffers.back().data()));
            // Outputs ahead of the null one may hold what was read when the row says so.
            if (*k != 'i' && !(op.fillsInOrder && pointer - 1 < nullAt))
                kept.push_back(buffers.size() - 1);
        }
    }
    const int code = callSlot(object, op.slot, words);
    env.check(code == op.nullCode,
              what + ": code " + std::to_string(code) + ", expected " + std::to_string(op.nullCode));
    for (std::size_t b : kept) {
        bool untouched = true;
        for (unsigned char byte : buffers[b])
            untouched = untouched && byte == sentinel;
        env.check(untouched, what + ": another output was written");
    }
}

// The null sweep over every operation with pointer or reference arguments, each on a fresh object.
template <class Env> void runNullSweep(Env& env)
{
    for (const auto& op : operations()) {
        const std::size_t pointers = detail::pointerCount(op);
        if (pointers == 0)
            continue;
        const std::string what = std::string(op.factory) + " slot " + std::to_string(op.slot);
        // Every argument goes as one word: floating-point ones would need calls of their own.
        const bool callable =
            std::strpbrk(op.args, "df") == nullptr && detail::numberCount(op) == op.numbers.size();
        env.check(callable, what + ": the row gives a word for every argument");
        if (!callable)
            continue;
        env.command(R"({"cmd":"clear"})");
        void* object = env.make(op.factory);
        env.check(object != nullptr, what + ": the factory gives an object");
        if (object == nullptr)
            continue;
        for (const auto& p : preparations())
            if (std::strcmp(p.factory, op.factory) == 0)
                callSlot(object, p.slot, p.words);
        for (std::size_t nullAt = 0; nullAt < pointers; ++nullAt)
            sweepOnce(env, object, op, nullAt);
        releaseSlot(object, releaseSlotOf(op.factory));
    }
}

} // namespace pelmux::shared
