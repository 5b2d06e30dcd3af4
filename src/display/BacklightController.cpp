// PLACEHOLDER while the controller is written: constructor and destructor only.
#include "display/BacklightController.h"

#include "frame/SettingsFile.h"
#include "frame/Trace.h"

namespace pelmux {

BacklightController::BacklightController()
{
    link_.open();
    createSemaphore(nullptr, startLock_);
    trace(createSemaphore(newBacklightSettingsName, newSettingsSemaphore_) ? "Sema create ok\n"
                                                                           : "Sema create error\n");
}

BacklightController::~BacklightController()
{
    stop();
    trace("Destructor\n");
    if (lightSensor_ != nullptr)
        lightSensor_->release();
    platform::closeSemaphore(startLock_);
    platform::closeSemaphore(newSettingsSemaphore_);
}

ResultCode BacklightController::startThread()
{
    return Varnholt::ERR_CREATING_THREAD;
}

void BacklightController::stop() {}

} // namespace pelmux
