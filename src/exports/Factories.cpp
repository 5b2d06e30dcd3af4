// The exported factories. Per-call interfaces build a new object on every call; shared ones hand
// out the process's single object and count references. Every factory that builds an object does
// so through atModuleBoundary: on Windows exhausted memory answers null instead of an exception.
#include <pelmux/Pelmux.h>

#include "comms/CanSetting_Imp.h"
#include "comms/Telematics_Imp.h"
#include "display/Backlight_Imp.h"
#include "display/Lightsensor_Imp.h"
#include "display/TouchScreenCalib_Imp.h"
#include "display/TouchScreen_Imp.h"
#include "display/Video_Imp.h"
#include "firmware/FirmwareUpgrade_Imp.h"
#include "frame/Factories.h"
#include "identity/About_Imp.h"
#include "identity/AuxVersion_Imp.h"
#include "identity/PelmuxPrivate_Imp.h"
#include "indicators/Buzzer_Imp.h"
#include "indicators/FrontLED_Imp.h"
#include "supervisor/Adc_Imp.h"
#include "supervisor/Config_Imp.h"
#include "supervisor/Diagnostic_Imp.h"
#include "supervisor/DigIO_Imp.h"
#include "supervisor/Power_Imp.h"

#include "supervisor/Battery_Imp.h"
#include "supervisor/PowerMgr_Imp.h"

#include <new>

using namespace Varnholt;

extern "C" {

PELMUX_API AuxVersion* PELMUX_STDCALL GetAuxVersion()
{
    return pelmux::atModuleBoundary([] { return new pelmux::AuxVersion_Imp(); });
}

// Interfaces whose areas are not built into this release yet answer with no object.
PELMUX_API About* PELMUX_STDCALL GetAbout()
{
    return pelmux::atModuleBoundary([] { return pelmux::makeNoThrow<pelmux::About_Imp>(); });
}
PELMUX_API Adc* PELMUX_STDCALL GetAdc()
{
    return pelmux::atModuleBoundary([] { return new pelmux::Adc_Imp(); });
}
PELMUX_API Backlight* PELMUX_STDCALL GetBacklight()
{
    return pelmux::atModuleBoundary(
        [] { return pelmux::backlightInstance().obtain([] { return new pelmux::Backlight_Imp(); }); });
}
PELMUX_API Battery* PELMUX_STDCALL GetBattery()
{
    return pelmux::atModuleBoundary([] { return new pelmux::Battery_Imp(); });
}
PELMUX_API Buzzer* PELMUX_STDCALL GetBuzzer()
{
    return pelmux::atModuleBoundary([] { return new pelmux::Buzzer_Imp(); });
}
PELMUX_API PelmuxPrivate* PELMUX_STDCALL GetPelmuxPrivate()
{
    return pelmux::atModuleBoundary([] { return new pelmux::PelmuxPrivate_Imp(); });
}
PELMUX_API CanSetting* PELMUX_STDCALL GetCanSetting()
{
    return pelmux::atModuleBoundary([] { return new pelmux::CanSetting_Imp(); });
}
PELMUX_API Config* PELMUX_STDCALL GetConfig()
{
    return pelmux::atModuleBoundary(
        [] { return pelmux::configInstance().obtain([] { return new pelmux::Config_Imp(); }); });
}
PELMUX_API Diagnostic* PELMUX_STDCALL GetDiagnostic()
{
    return pelmux::atModuleBoundary(
        [] { return pelmux::diagnosticInstance().obtain([] { return new pelmux::Diagnostic_Imp(); }); });
}
PELMUX_API DigIO* PELMUX_STDCALL GetDigIO()
{
    return pelmux::atModuleBoundary([] { return pelmux::makeNoThrow<pelmux::DigIO_Imp>(); });
}
PELMUX_API FirmwareUpgrade* PELMUX_STDCALL GetFirmwareUpgrade()
{
    return pelmux::atModuleBoundary([] { return new pelmux::FirmwareUpgrade_Imp(); });
}
PELMUX_API FrontLED* PELMUX_STDCALL GetFrontLED()
{
    return pelmux::atModuleBoundary(
        [] { return pelmux::frontLedInstance().obtain([] { return new pelmux::FrontLED_Imp(); }); });
}
PELMUX_API Lightsensor* PELMUX_STDCALL GetLightsensor()
{
    return pelmux::atModuleBoundary([] { return new pelmux::Lightsensor_Imp(); });
}
PELMUX_API Power* PELMUX_STDCALL GetPower()
{
    return pelmux::atModuleBoundary([] { return new pelmux::Power_Imp(); });
}
PELMUX_API PowerMgr* PELMUX_STDCALL GetPowerMgr()
{
    return pelmux::atModuleBoundary([] { return new pelmux::PowerMgr_Imp(); });
}
PELMUX_API Telematics* PELMUX_STDCALL GetTelematics()
{
    return pelmux::atModuleBoundary(
        [] { return pelmux::telematicsInstance().obtain([] { return new pelmux::Telematics_Imp(); }); });
}
PELMUX_API TouchScreen* PELMUX_STDCALL GetTouchScreen()
{
    return pelmux::atModuleBoundary([] { return new pelmux::TouchScreen_Imp(); });
}
PELMUX_API TouchScreenCalib* PELMUX_STDCALL GetTouchScreenCalib()
{
    return pelmux::atModuleBoundary([] { return new pelmux::TouchScreenCalib_Imp(); });
}
PELMUX_API Video* PELMUX_STDCALL GetVideo()
{
    return pelmux::atModuleBoundary([] { return new pelmux::Video_Imp(); });
}

} // extern "C"
