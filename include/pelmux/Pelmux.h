// Everything an application needs: every interface, the factories that hand them out, and the message
// functions. Each factory returns a new reference to its interface; give it back with the interface's
// release operation exactly once.
#pragma once

#include <pelmux/About.h>
#include <pelmux/Adc.h>
#include <pelmux/AuxVersion.h>
#include <pelmux/Backlight.h>
#include <pelmux/Battery.h>
#include <pelmux/Buzzer.h>
#include <pelmux/CanSetting.h>
#include <pelmux/Config.h>
#include <pelmux/Diagnostic.h>
#include <pelmux/DigIO.h>
#include <pelmux/Export.h>
#include <pelmux/FirmwareUpgrade.h>
#include <pelmux/FrontLED.h>
#include <pelmux/Lightsensor.h>
#include <pelmux/PelmuxPrivate.h>
#include <pelmux/Power.h>
#include <pelmux/PowerMgr.h>
#include <pelmux/ResultCode.h>
#include <pelmux/Telematics.h>
#include <pelmux/TouchScreen.h>
#include <pelmux/TouchScreenCalib.h>
#include <pelmux/Video.h>

// GetAbout and GetDigIO return null when memory is exhausted. On Windows every factory does: no
// exception leaves Pelmux.dll. On Linux the other factories throw std::bad_alloc then.
extern "C" PELMUX_API Varnholt::About* PELMUX_STDCALL GetAbout();
extern "C" PELMUX_API Varnholt::Adc* PELMUX_STDCALL GetAdc();
extern "C" PELMUX_API Varnholt::AuxVersion* PELMUX_STDCALL GetAuxVersion();
extern "C" PELMUX_API Varnholt::Backlight* PELMUX_STDCALL GetBacklight();
extern "C" PELMUX_API Varnholt::Battery* PELMUX_STDCALL GetBattery();
extern "C" PELMUX_API Varnholt::Buzzer* PELMUX_STDCALL GetBuzzer();
extern "C" PELMUX_API Varnholt::PelmuxPrivate* PELMUX_STDCALL GetPelmuxPrivate();
extern "C" PELMUX_API Varnholt::CanSetting* PELMUX_STDCALL GetCanSetting();
extern "C" PELMUX_API Varnholt::Config* PELMUX_STDCALL GetConfig();
extern "C" PELMUX_API Varnholt::Diagnostic* PELMUX_STDCALL GetDiagnostic();
extern "C" PELMUX_API Varnholt::DigIO* PELMUX_STDCALL GetDigIO();
extern "C" PELMUX_API Varnholt::FirmwareUpgrade* PELMUX_STDCALL GetFirmwareUpgrade();
extern "C" PELMUX_API Varnholt::FrontLED* PELMUX_STDCALL GetFrontLED();
extern "C" PELMUX_API Varnholt::Lightsensor* PELMUX_STDCALL GetLightsensor();
extern "C" PELMUX_API Varnholt::Power* PELMUX_STDCALL GetPower();
extern "C" PELMUX_API Varnholt::PowerMgr* PELMUX_STDCALL GetPowerMgr();
extern "C" PELMUX_API Varnholt::Telematics* PELMUX_STDCALL GetTelematics();
extern "C" PELMUX_API Varnholt::TouchScreen* PELMUX_STDCALL GetTouchScreen();
extern "C" PELMUX_API Varnholt::TouchScreenCalib* PELMUX_STDCALL GetTouchScreenCalib();
extern "C" PELMUX_API Varnholt::Video* PELMUX_STDCALL GetVideo();

namespace Varnholt {

// Texts of the supervisor's hardware error status codes (0 .. 131) and start-up reason codes. Only the low
// 16 bits of code count; unknown codes give "Unknown error code" and "Unknown".
PELMUX_API const char* PELMUX_STDCALL GetHwErrorStatusStringA(unsigned int code);
PELMUX_API const wchar_t* PELMUX_STDCALL GetHwErrorStatusStringW(unsigned int code);
PELMUX_API const char* PELMUX_STDCALL GetStartupReasonStringA(unsigned int code);
PELMUX_API const wchar_t* PELMUX_STDCALL GetStartupReasonStringW(unsigned int code);

} // namespace Varnholt
