/// \file
/// Everything an application needs: every interface, the factories that hand them out, and the
/// message functions. Each factory returns a new reference to its interface; give it back with the
/// interface's release operation exactly once, and do not use the pointer afterwards.
///
/// Factories may be called from any thread. Most build a new object per call; Backlight, Config,
/// Diagnostic, FrontLED and Telematics are shared: every call in a process returns the same object
/// and counts one more reference, and the last release frees it (the next call builds a new one).
/// Counting and freeing run under one lock, so concurrent calls never free an object in use; a
/// release beyond the references held only drives the count below zero. Nothing a
/// factory opens is reported as a failure when it is built: a board driver that cannot be opened,
/// or a feature the unit lacks, shows in the results of the object's operations. No factory starts
/// a thread.
///
/// GetAbout and GetDigIO return null when memory is exhausted. On Windows every factory does, and
/// every operation answers a result code (ERR_MEMORY_ALLOCATION_FAILED where it has no other): no
/// exception leaves Pelmux.dll. On Linux the other factories throw std::bad_alloc then.
///
/// Operations that read or write the settings file wait for its lock while another program holds it
/// for one load-modify-write cycle; a program killed while it holds it (or any other lock of the
/// library) does not keep it. Should the wait itself fail, they answer ERR_FUNCTION_IN_PROGRESS (11)
/// and neither read nor write the file.
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

/// A new unit-identity object; reads both identity EEPROMs through the board library while it is
/// built (null when memory is exhausted).
extern "C" PELMUX_API Varnholt::About* PELMUX_STDCALL GetAbout();
/// A new supply-voltage object with its own board-driver handle.
extern "C" PELMUX_API Varnholt::Adc* PELMUX_STDCALL GetAdc();
/// A new version-information object with its own board-driver handle.
extern "C" PELMUX_API Varnholt::AuxVersion* PELMUX_STDCALL GetAuxVersion();
/// The process's shared backlight object (one more reference). The first call opens the driver,
/// reads whether the unit has a display and makes the controller's named semaphore.
extern "C" PELMUX_API Varnholt::Backlight* PELMUX_STDCALL GetBacklight();
/// A new battery object; opens the driver and learns once, from the unit identity and the
/// supervisor firmware, whether a battery is fitted.
extern "C" PELMUX_API Varnholt::Battery* PELMUX_STDCALL GetBattery();
/// A new buzzer object; opens the driver and learns whether the unit has a buzzer (a display in its
/// identity).
extern "C" PELMUX_API Varnholt::Buzzer* PELMUX_STDCALL GetBuzzer();
/// A new maintenance object; opens the driver, reads both identity EEPROMs and prepares (but does
/// not start) an automatic backlight controller.
extern "C" PELMUX_API Varnholt::PelmuxPrivate* PELMUX_STDCALL GetPelmuxPrivate();
/// A new CAN-settings object; learns from the unit identity whether the unit has CAN channels. Uses
/// no driver.
extern "C" PELMUX_API Varnholt::CanSetting* PELMUX_STDCALL GetCanSetting();
/// The process's shared supervisor-configuration object (one more reference). The first call opens
/// the driver and learns whether the unit has CAN channels and video inputs.
extern "C" PELMUX_API Varnholt::Config* PELMUX_STDCALL GetConfig();
/// The process's shared diagnostics object (one more reference); it opens the driver at its first
/// operation.
extern "C" PELMUX_API Varnholt::Diagnostic* PELMUX_STDCALL GetDiagnostic();
/// A new digital-input object with its own driver handle; learns whether the unit has digital
/// inputs (null when memory is exhausted).
extern "C" PELMUX_API Varnholt::DigIO* PELMUX_STDCALL GetDigIO();
/// A new firmware-upgrade object; makes its semaphores, including the named one that lets one
/// upgrade job run at a time.
extern "C" PELMUX_API Varnholt::FirmwareUpgrade* PELMUX_STDCALL GetFirmwareUpgrade();
/// The process's shared front-LED object (one more reference); the first call opens the driver.
extern "C" PELMUX_API Varnholt::FrontLED* PELMUX_STDCALL GetFrontLED();
/// A new light-sensor object; opens the driver and learns whether the unit has a display (and so a
/// sensor).
extern "C" PELMUX_API Varnholt::Lightsensor* PELMUX_STDCALL GetLightsensor();
/// A new power object; learns whether the unit has CAN, video and a display; opens the driver at
/// its first operation.
extern "C" PELMUX_API Varnholt::Power* PELMUX_STDCALL GetPower();
/// A new power-manager object; sets "PowerMgrResume" to 1 in the settings file (waiting for the
/// file's lock).
extern "C" PELMUX_API Varnholt::PowerMgr* PELMUX_STDCALL GetPowerMgr();
/// The process's shared telematics object (one more reference); the first call opens the board
/// library for the I2C port expander.
extern "C" PELMUX_API Varnholt::Telematics* PELMUX_STDCALL GetTelematics();
/// A new touch-screen object; opens the driver and learns whether the unit has a display and a
/// touch screen.
extern "C" PELMUX_API Varnholt::TouchScreen* PELMUX_STDCALL GetTouchScreen();
/// A new touch-calibration object with its own driver handle.
extern "C" PELMUX_API Varnholt::TouchScreenCalib* PELMUX_STDCALL GetTouchScreenCalib();
/// A new video object; learns whether the unit has video inputs. Its devices are opened by init.
extern "C" PELMUX_API Varnholt::Video* PELMUX_STDCALL GetVideo();

namespace Varnholt {

/// The text of a supervisor hardware error status code (0 to 131; 0 is "No Error"). Only the low
/// 16 bits of `code` count; any other code gives "Unknown error code". Static text, never freed;
/// any thread may call.
PELMUX_MESSAGE_LINKAGE PELMUX_API const char* PELMUX_STDCALL GetHwErrorStatusStringA(unsigned int code);
/// GetHwErrorStatusStringA as wide characters.
PELMUX_MESSAGE_LINKAGE PELMUX_API const wchar_t* PELMUX_STDCALL GetHwErrorStatusStringW(unsigned int code);
/// The text of a start-up reason code: 15 "Power on start-up", 85 "Front Panel Button", 170
/// "External Control Signal", 240 "OS Restart". Only the low 16 bits of `code` count; any other
/// code gives "Unknown". Static text, never freed; any thread may call.
PELMUX_MESSAGE_LINKAGE PELMUX_API const char* PELMUX_STDCALL GetStartupReasonStringA(unsigned int code);
/// GetStartupReasonStringA as wide characters.
PELMUX_MESSAGE_LINKAGE PELMUX_API const wchar_t* PELMUX_STDCALL GetStartupReasonStringW(unsigned int code);

} // namespace Varnholt
