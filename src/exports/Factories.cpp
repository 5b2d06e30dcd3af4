// The exported factories. Per-call interfaces build a new object on every call; shared ones hand
// out the process's single object and count references. Every factory that builds an object does
// so through atModuleBoundary: on Windows exhausted memory answers null instead of an exception.
#include <pelmux/Pelmux.h>

#include "comms/CanSetting_Imp.h"
#include "comms/Telematics_Imp.h"
#include "display/Backlight_Imp.h"
#include "display/Lightsensor_Imp.h"
#include "firmware/FirmwareUpgrade_Imp.h"
#include "frame/Factories.h"
#include "identity/About_Imp.h"
#include "identity/AuxVersion_Imp.h"
#include "identity/PelmuxPrivate_Imp.h"
#include "supervisor/Adc_Imp.h"
#include "supervisor/Diagnostic_Imp.h"
#include "supervisor/DigIO_Imp.h"

#include <new>

using namespace Varnholt;

extern "C" {

PELMUX_API AuxVersion* PELMUX_STDCALL GetAuxVersion()
{
    return pelmux::atModuleBoundary<pelmux::AuxVersion_Imp>([] { return new pelmux::AuxVersion_Imp(); });
}

// Interfaces whose areas are not built into this release yet answer with no object.
PELMUX_API About* PELMUX_STDCALL GetAbout()
{
    return pelmux::atModuleBoundary<pelmux::About_Imp>(
        [] { return pelmux::makeNoThrow<pelmux::About_Imp>(); });
}
PELMUX_API Adc* PELMUX_STDCALL GetAdc()
{
    return pelmux::atModuleBoundary<pelmux::Adc_Imp>([] { return new pelmux::Adc_Imp(); });
}
PELMUX_API Backlight* PELMUX_STDCALL GetBacklight()
{
    return pelmux::atModuleBoundary<pelmux::Backlight_Imp>(
        [] { return pelmux::backlightInstance().obtain([] { return new pelmux::Backlight_Imp(); }); });
}
PELMUX_API Battery* PELMUX_STDCALL GetBattery()
{
    return nullptr;
}
PELMUX_API Buzzer* PELMUX_STDCALL GetBuzzer()
{
    return nullptr;
}
PELMUX_API PelmuxPrivate* PELMUX_STDCALL GetPelmuxPrivate()
{
    return pelmux::atModuleBoundary<pelmux::PelmuxPrivate_Imp>(
        [] { return new pelmux::PelmuxPrivate_Imp(); });
}
PELMUX_API CanSetting* PELMUX_STDCALL GetCanSetting()
{
    return pelmux::atModuleBoundary<pelmux::CanSetting_Imp>([] { return new pelmux::CanSetting_Imp(); });
}
PELMUX_API Config* PELMUX_STDCALL GetConfig()
{
    return nullptr;
}
PELMUX_API Diagnostic* PELMUX_STDCALL GetDiagnostic()
{
    return pelmux::atModuleBoundary<pelmux::Diagnostic_Imp>(
        [] { return pelmux::diagnosticInstance().obtain([] { return new pelmux::Diagnostic_Imp(); }); });
}
PELMUX_API DigIO* PELMUX_STDCALL GetDigIO()
{
    return pelmux::atModuleBoundary<pelmux::DigIO_Imp>(
        [] { return pelmux::makeNoThrow<pelmux::DigIO_Imp>(); });
}
PELMUX_API FirmwareUpgrade* PELMUX_STDCALL GetFirmwareUpgrade()
{
    return pelmux::atModuleBoundary<pelmux::FirmwareUpgrade_Imp>(
        [] { return new pelmux::FirmwareUpgrade_Imp(); });
}
PELMUX_API FrontLED* PELMUX_STDCALL GetFrontLED()
{
    return nullptr;
}
PELMUX_API Lightsensor* PELMUX_STDCALL GetLightsensor()
{
    return pelmux::atModuleBoundary<pelmux::Lightsensor_Imp>([] { return new pelmux::Lightsensor_Imp(); });
}
PELMUX_API Power* PELMUX_STDCALL GetPower()
{
    return nullptr;
}
PELMUX_API PowerMgr* PELMUX_STDCALL GetPowerMgr()
{
    return nullptr;
}
PELMUX_API Telematics* PELMUX_STDCALL GetTelematics()
{
    return pelmux::atModuleBoundary<pelmux::Telematics_Imp>(
        [] { return pelmux::telematicsInstance().obtain([] { return new pelmux::Telematics_Imp(); }); });
}
PELMUX_API TouchScreen* PELMUX_STDCALL GetTouchScreen()
{
    return nullptr;
}
PELMUX_API TouchScreenCalib* PELMUX_STDCALL GetTouchScreenCalib()
{
    return nullptr;
}
PELMUX_API Video* PELMUX_STDCALL GetVideo()
{
    return nullptr;
}

} // extern "C"
