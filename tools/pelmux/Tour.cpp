// The demo tour: one step per hardware area.
#include "Cli.h"

namespace pelmux::cli {

std::vector<TourStep> tourSteps()
{
    std::vector<TourStep> steps = {
        versionTour(),   identityTour(), diagTour(), adcTour(),        settingsTour(), lightTour(),
        backlightTour(), privateTour(),  ablTour(),  telematicsTour(), canTour(),
    };
    // The supervisor's battery and the power-manager hand-shake.
    steps.insert(steps.end(), {batteryTour(), powerMgrTour()});
    return steps;
}

} // namespace pelmux::cli
