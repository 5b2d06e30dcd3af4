// The demo tour: one step per hardware area.
#include "Cli.h"

namespace pelmux::cli {

std::vector<TourStep> tourSteps()
{
    // One step per line, so that a new area adds one line.
    // clang-format off
    return {
        versionTour(),
        identityTour(),
        diagTour(),
        adcTour(),
        settingsTour(),
        configTour(),
        powerTour(),
        batteryTour(),
        powerMgrTour(),
        lightTour(),
        backlightTour(),
        privateTour(),
        ablTour(),
        ledTour(),
        buzzerTour(),
        touchTour(),
        videoTour(),
        telematicsTour(),
        canTour(),
        firmwareTour(),
    };
    // clang-format on
}

} // namespace pelmux::cli
