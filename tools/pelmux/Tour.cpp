// The demo tour: one step per hardware area.
#include "Cli.h"

namespace pelmux::cli {

std::vector<TourStep> tourSteps()
{
    // clang-format off
    return {
        versionTour(),
        identityTour(),
        diagTour(),
        adcTour(),
        settingsTour(),
        lightTour(),
        backlightTour(),
        privateTour(),
        ablTour(),
        telematicsTour(),
        canTour(),
        ledTour(),
        buzzerTour(),
        touchTour(),
        videoTour(),
        firmwareTour(),
        configTour(),
        powerTour(),
    };
    // clang-format on
}

} // namespace pelmux::cli
