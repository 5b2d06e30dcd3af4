// The demo tour: one step per hardware area.
#include "Cli.h"

namespace pelmux::cli {

std::vector<TourStep> tourSteps()
{
    return {
        versionTour(), identityTour(), diagTour(), adcTour(), lightTour(), settingsTour(),
    };
}

} // namespace pelmux::cli
