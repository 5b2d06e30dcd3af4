// The demo tour: one step per hardware area.
#include "Cli.h"

namespace pelmux::cli {

std::vector<TourStep> tourSteps()
{
    return {
        versionTour(),   identityTour(), diagTour(), adcTour(),        settingsTour(), lightTour(),
        backlightTour(), privateTour(),  ablTour(),  telematicsTour(), canTour(),      firmwareTour(),
    };
}

} // namespace pelmux::cli
