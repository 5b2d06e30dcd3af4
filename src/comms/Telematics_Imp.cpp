#include "comms/Telematics_Imp.h"

#include "frame/Factories.h"
#include "frame/SettingsFile.h"
#include "frame/Trace.h"
#include "identity/FeatureProbe.h"
#include "platform/Time.h"

#include <string>

namespace pelmux {

namespace {

// The kept answers of the module questions, one per module, each with its mark.
class ModuleAvailability {
public:
    bool available(Module module)
    {
        std::lock_guard lock(mutex_);
        Answer& answer = answers_[static_cast<int>(module)];
        if (!answer.known) {
            answer.fitted = readFitted(module);
            answer.known = true;
        }
        return answer.fitted;
    }

    void forget()
    {
        std::lock_guard lock(mutex_);
        for (Answer& answer : answers_)
            answer = Answer{};
    }

private:
    struct Answer {
        bool known = false;
        bool fitted = false;
    };

    // Stricter than a feature probe: a read that fails, or an object that cannot be built, counts as
    // not fitted.
    static bool readFitted(Module module)
    {
        Feature field = Feature::Gsm;
        switch (module) {
        case Module::Gsm:
            field = Feature::Gsm;
            break;
        case Module::Wlan:
            field = Feature::Wlan;
            break;
        case Module::Bluetooth:
            field = Feature::Bluetooth;
            break;
        case Module::Gps:
            field = Feature::Gps;
            break;
        }
        const FieldReading reading = readFeatureField(field);
        return reading.result == Varnholt::ERR_SUCCESS && reading.nonZero;
    }

    platform::Mutex mutex_;
    Answer answers_[4];
};

ModuleAvailability& availability()
{
    static ModuleAvailability kept;
    return kept;
}

ResultCode notAvailable(Module module)
{
    switch (module) {
    case Module::Gsm:
        return Varnholt::ERR_GSM_GPRS_NOT_AVAILABLE;
    case Module::Wlan:
        return Varnholt::ERR_WLAN_NOT_AVAILABLE;
    case Module::Bluetooth:
        return Varnholt::ERR_BLUETOOTH_NOT_AVAILABLE;
    case Module::Gps:
        return Varnholt::ERR_GPS_NOT_AVAILABLE;
    }
    return Varnholt::ERR_NOT_SUPPORTED;
}

// One settings cycle that reads a power-at-startup preference: 1 only for a text that reads as 1.
ResultCode readStartupPreference(Module module, const char* key, std::int32_t* status)
{
    if (!moduleAvailable(module))
        return notAvailable(module);
    if (status == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    std::int32_t number = 0;
    if (const ResultCode read = readSettingNumber(key, number); read != Varnholt::ERR_SUCCESS)
        return read;
    *status = number == 1 ? 1 : 0;
    return Varnholt::ERR_SUCCESS;
}

// One settings cycle that writes a power-at-startup preference: "1" for on, "0" otherwise.
ResultCode writeStartupPreference(Module module, const char* key, std::int32_t on)
{
    if (!moduleAvailable(module))
        return notAvailable(module);
    return writeSetting(key, on == 1 ? "1" : "0");
}

} // namespace

bool moduleAvailable(Module module)
{
    return availability().available(module);
}

void forgetModuleAvailability()
{
    availability().forget();
}

SharedInstance<Telematics_Imp>& telematicsInstance()
{
    static SharedInstance<Telematics_Imp> instance;
    return instance;
}

Telematics_Imp::Telematics_Imp()
{
    std::lock_guard lock(mutex_);
    initExpander();
    closeBoard(boardHandle_);
}

Telematics_Imp::~Telematics_Imp()
{
    closeBoard(boardHandle_);
    platform::boardLibExit();
}

void Telematics_Imp::release()
{
    telematicsInstance().release();
}

// ------------------------------------------------------------------ register sequences

bool Telematics_Imp::readRegister(std::uint16_t reg, std::uint8_t& value)
{
    if (readI2cRegister(boardHandle_, expanderReadAddress, reg, value))
        return true;
    outputLine(OutputStream::Out, expanderReadErrorLine);
    return false;
}

bool Telematics_Imp::writeRegister(std::uint16_t reg, std::uint8_t value)
{
    if (writeI2cRegister(boardHandle_, expanderWriteAddress, reg, value))
        return true;
    outputLine(OutputStream::Out, expanderWriteErrorLine);
    return false;
}

bool Telematics_Imp::initExpander()
{
    if (!openBoard(boardHandle_))
        return false;
    std::uint8_t config = 0;
    if (!readRegister(expanderConfigRegister, config))
        return false;
    if ((config & expanderConfigMask) == expanderConfigured)
        return true;
    if (!writeRegister(expanderConfigRegister, expanderConfigSetUp) ||
        !writeRegister(expanderPortRegister, 0x00))
        return false;
    // The port is all off now: drive the supply line too, then let the GPS module go through one
    // power cycle. Failures here are left to the operations that follow.
    if (readRegister(expanderConfigRegister, config))
        writeRegister(expanderConfigRegister, static_cast<std::uint8_t>(config & ~portBit::supply));
    setExpanderBit(portBit::supply, false);
    switchPort(portBit::gpsPower, true);
    platform::sleepMs(expanderSetUpGpsMs);
    switchPort(portBit::gpsPower, false);
    return true;
}

bool Telematics_Imp::setExpanderBit(std::uint8_t mask, bool on)
{
    std::uint8_t port = 0;
    if (!readRegister(expanderPortRegister, port))
        return false;
    port = on ? static_cast<std::uint8_t>(port | mask) : static_cast<std::uint8_t>(port & ~mask);
    return writeRegister(expanderPortRegister, port);
}

ResultCode Telematics_Imp::readPortBit(std::uint8_t mask, std::int32_t& status)
{
    std::uint8_t port = 0;
    if (!readRegister(expanderPortRegister, port))
        return Varnholt::ERR_I2C_EXPANDER_READ;
    status = (port & mask) != 0 ? 1 : 0;
    return Varnholt::ERR_SUCCESS;
}

// The modem shows its power state on bit 2 only while bit 6 is set; bit 6 is cleared again
// whatever the outcome.
ResultCode Telematics_Imp::readGprsState(std::int32_t& status)
{
    std::uint8_t port = 0;
    // A port that cannot be read is not written back: its other bits are unknown.
    if (readRegister(expanderPortRegister, port))
        writeRegister(expanderPortRegister, static_cast<std::uint8_t>(port | portBit::gprsStateEnable));
    platform::sleepMs(gprsStateSettleMs);
    const bool read = readRegister(expanderPortRegister, port);
    setExpanderBit(portBit::gprsStateEnable, false);
    if (!read)
        return Varnholt::ERR_I2C_EXPANDER_READ;
    status = (port & portBit::gprsState) != 0 ? 1 : 0;
    return Varnholt::ERR_SUCCESS;
}

// Whether a module other than the one switched is powered, asked in the order GPRS, WLAN,
// Bluetooth, GPS up to the first that is; a state that cannot be read counts as powered.
bool Telematics_Imp::anyOtherPowered(std::uint8_t switchedMask)
{
    constexpr std::uint8_t order[] = {portBit::gprsKey, portBit::wlanPower, portBit::btPower,
                                      portBit::gpsPower};
    for (const std::uint8_t mask : order) {
        if (mask == switchedMask)
            continue;
        std::int32_t powered = 0;
        const ResultCode result =
            mask == portBit::gprsKey ? readGprsState(powered) : readPortBit(mask, powered);
        if (result != Varnholt::ERR_SUCCESS || powered == 1)
            return true;
    }
    return false;
}

// The supply shared by all modules: on before a module goes on, off only when the module switched
// off was the last one powered. Failures are left to the step that follows.
void Telematics_Imp::handleSupply(std::uint8_t switchedMask, bool on)
{
    if (on)
        setExpanderBit(portBit::supply, true);
    else if (!anyOtherPowered(switchedMask))
        setExpanderBit(portBit::supply, false);
}

ResultCode Telematics_Imp::switchPort(std::uint8_t mask, bool on)
{
    handleSupply(mask, on);
    if (!setExpanderBit(mask, on))
        return Varnholt::ERR_I2C_EXPANDER_WRITE;
    return Varnholt::ERR_SUCCESS;
}

// The modem switches on or off at a press of its power key: a pulse held longer to switch off.
ResultCode Telematics_Imp::switchGprs(bool on)
{
    std::int32_t state = 0;
    const ResultCode result = readGprsState(state);
    if (result != Varnholt::ERR_SUCCESS)
        return result;
    handleSupply(portBit::gprsKey, on);
    if (state == (on ? 1 : 0))
        return Varnholt::ERR_SUCCESS;
    if (!setExpanderBit(portBit::gprsKey, false) || !setExpanderBit(portBit::gprsKey, true))
        return Varnholt::ERR_I2C_EXPANDER_WRITE;
    platform::sleepMs(on ? gprsKeyOnMs : gprsKeyOffMs);
    if (!setExpanderBit(portBit::gprsKey, false))
        return Varnholt::ERR_I2C_EXPANDER_WRITE;
    return Varnholt::ERR_SUCCESS;
}

template <class Body> ResultCode Telematics_Imp::onExpander(Body body)
{
    std::lock_guard lock(mutex_);
    const ResultCode result = initExpander() ? body() : Varnholt::ERR_I2C_EXPANDER_INIT;
    // A fresh handle is opened by the next operation; none is kept meanwhile.
    closeBoard(boardHandle_);
    return result;
}

ResultCode Telematics_Imp::portStatus(Module module, std::uint8_t mask, std::int32_t* status)
{
    if (!moduleAvailable(module))
        return notAvailable(module);
    if (status == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    std::int32_t read = 0;
    const ResultCode result = onExpander([&] { return readPortBit(mask, read); });
    if (result == Varnholt::ERR_SUCCESS)
        *status = read;
    return result;
}

ResultCode Telematics_Imp::portSwitch(Module module, std::uint8_t mask, std::int32_t on)
{
    if (!moduleAvailable(module))
        return notAvailable(module);
    return onExpander([&] { return switchPort(mask, on == 1); });
}

// ------------------------------------------------------------------ operations

ResultCode Telematics_Imp::getTelematicsAvailable(std::int32_t* available)
{
    bool any = false;
    for (const Module module : {Module::Bluetooth, Module::Gps, Module::Wlan, Module::Gsm}) {
        if (moduleAvailable(module)) {
            any = true;
            break;
        }
    }
    if (available == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    *available = any ? 1 : 0;
    return Varnholt::ERR_SUCCESS;
}

ResultCode Telematics_Imp::getGPRSPowerStatus(std::int32_t* status)
{
    if (!moduleAvailable(Module::Gsm))
        return notAvailable(Module::Gsm);
    if (status == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    std::int32_t state = 0;
    const ResultCode result = onExpander([&] { return readGprsState(state); });
    if (result == Varnholt::ERR_SUCCESS)
        *status = state;
    return result;
}

ResultCode Telematics_Imp::setGPRSPowerStatus(std::int32_t on)
{
    if (!moduleAvailable(Module::Gsm))
        return notAvailable(Module::Gsm);
    return onExpander([&] { return switchGprs(on == 1); });
}

ResultCode Telematics_Imp::getWLANPowerStatus(std::int32_t* status)
{
    return portStatus(Module::Wlan, portBit::wlanPower, status);
}

ResultCode Telematics_Imp::setWLANPowerStatus(std::int32_t on)
{
    return portSwitch(Module::Wlan, portBit::wlanPower, on);
}

ResultCode Telematics_Imp::getBTPowerStatus(std::int32_t* status)
{
    return portStatus(Module::Bluetooth, portBit::btPower, status);
}

ResultCode Telematics_Imp::setBTPowerStatus(std::int32_t on)
{
    return portSwitch(Module::Bluetooth, portBit::btPower, on);
}

ResultCode Telematics_Imp::getGPSPowerStatus(std::int32_t* status)
{
    return portStatus(Module::Gps, portBit::gpsPower, status);
}

ResultCode Telematics_Imp::setGPSPowerStatus(std::int32_t on)
{
    return portSwitch(Module::Gps, portBit::gpsPower, on);
}

ResultCode Telematics_Imp::getGPSInputStatus(std::int32_t* status)
{
    return portStatus(Module::Gps, portBit::gpsInput, status);
}

ResultCode Telematics_Imp::getGPRSPowerAtStartup(std::int32_t* status)
{
    return readStartupPreference(Module::Gsm, gprsStartupKey, status);
}

ResultCode Telematics_Imp::setGPRSPowerAtStartup(std::int32_t on)
{
    return writeStartupPreference(Module::Gsm, gprsStartupKey, on);
}

ResultCode Telematics_Imp::getWLANPowerAtStartup(std::int32_t* status)
{
    return readStartupPreference(Module::Wlan, wlanStartupKey, status);
}

ResultCode Telematics_Imp::setWLANPowerAtStartup(std::int32_t on)
{
    return writeStartupPreference(Module::Wlan, wlanStartupKey, on);
}

ResultCode Telematics_Imp::getBTPowerAtStartup(std::int32_t* status)
{
    return readStartupPreference(Module::Bluetooth, btStartupKey, status);
}

ResultCode Telematics_Imp::setBTPowerAtStartup(std::int32_t on)
{
    return writeStartupPreference(Module::Bluetooth, btStartupKey, on);
}

ResultCode Telematics_Imp::getGPSPowerAtStartup(std::int32_t* status)
{
    return readStartupPreference(Module::Gps, gpsStartupKey, status);
}

ResultCode Telematics_Imp::setGPSPowerAtStartup(std::int32_t on)
{
    return writeStartupPreference(Module::Gps, gpsStartupKey, on);
}

} // namespace pelmux
