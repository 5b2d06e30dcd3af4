// Sample 3: a firmware upgrade with progress.
//
//   upgrade TARGET FILE    TARGET: fpga, ss (the system supervisor) or front (the front
//                          micro-controller); FILE: the image (Intel HEX for ss and front)
//
// Starts the upgrade job in the background, follows its steps with getUpgradeStatus until it
// ends, and prints each step and its progress. Exits with 0 when the job completed, 1 when it was
// refused or failed, 2 for a wrong command line.
//
// The micro-controllers are written through their bootloader on the serial port COM1, which takes
// from seconds to minutes; one job runs at a time on the unit. Do not switch the unit off while a
// job writes: the target is left without working firmware until an upgrade runs again.
#include <pelmux/Pelmux.h>

#include <cstdio>
#include <cstring>

namespace {

const char* stepName(Varnholt::UpgradeAction action)
{
    switch (action) {
    case Varnholt::UPGRADE_PREPARING:
        return "Preparing";
    case Varnholt::UPGRADE_CONNECTING:
        return "Connecting";
    case Varnholt::UPGRADE_READING_FILE:
        return "Reading the file";
    case Varnholt::UPGRADE_WRITING:
        return "Writing";
    case Varnholt::UPGRADE_VERIFYING:
        return "Verifying";
    case Varnholt::UPGRADE_COMPLETE:
        return "Complete";
    case Varnholt::UPGRADE_FAILED:
        return "Failed";
    }
    return "Unknown step";
}

// Starts the job; `blocking` false: the job runs on a thread of the object's own and the start
// operation answers at once, ERR_SUCCESS or why the job was refused before it began (a file that
// cannot be read, an image that does not fit the target, another job running).
Varnholt::ResultCode start(Varnholt::FirmwareUpgrade* upgrade, const char* target, const char* file)
{
    const bool blocking = false;
    if (std::strcmp(target, "fpga") == 0) {
        return upgrade->startFpgaUpgrade(file, blocking);
    }
    if (std::strcmp(target, "ss") == 0) {
        return upgrade->startSSUpgrade(file, blocking);
    }
    return upgrade->startFrontUpgrade(file, blocking);
}

// Follows the job until it ends; answers its result.
Varnholt::ResultCode follow(Varnholt::FirmwareUpgrade* upgrade)
{
    Varnholt::UpgradeStatus status = {};
    bool first = true;
    Varnholt::UpgradeAction shownStep = Varnholt::UPGRADE_PREPARING;
    int shownTenth = -1;
    for (;;) {
        // `wait` true blocks until the job posts a newer status (the first call answers at once),
        // so this loop takes no time of its own. An application that must not block, a user
        // interface's timer for example, asks with `wait` false: that repeats the last status when
        // nothing new was posted.
        const Varnholt::ResultCode result = upgrade->getUpgradeStatus(status, true);
        if (result != Varnholt::ERR_SUCCESS) {
            return result;
        }
        // A line per step and per tenth of its progress.
        const int tenth = status.percent / 10;
        if (first || status.currentAction != shownStep || tenth != shownTenth) {
            if (status.currentAction == Varnholt::UPGRADE_COMPLETE ||
                status.currentAction == Varnholt::UPGRADE_FAILED) {
                std::printf("  %s\n", stepName(status.currentAction));
            } else {
                std::printf("  %-16s %3u %%\n", stepName(status.currentAction), status.percent);
            }
            std::fflush(stdout);
            first = false;
            shownStep = status.currentAction;
            shownTenth = tenth;
        }
        if (status.currentAction == Varnholt::UPGRADE_COMPLETE) {
            return Varnholt::ERR_SUCCESS;
        }
        if (status.currentAction == Varnholt::UPGRADE_FAILED) {
            // The code of the step that failed.
            return status.errorCode;
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3 || (std::strcmp(argv[1], "fpga") != 0 && std::strcmp(argv[1], "ss") != 0 &&
                      std::strcmp(argv[1], "front") != 0)) {
        std::printf("usage: upgrade fpga|ss|front FILE\n");
        return 2;
    }
    const char* target = argv[1];
    const char* file = argv[2];

    // A new object per call. On Windows every factory returns null when memory is exhausted.
    Varnholt::FirmwareUpgrade* upgrade = GetFirmwareUpgrade();
    if (upgrade == nullptr) {
        std::printf("GetFirmwareUpgrade: out of memory\n");
        return 1;
    }

    std::printf("Upgrading %s with %s\n", target, file);
    Varnholt::ResultCode result = start(upgrade, target, file);
    if (result != Varnholt::ERR_SUCCESS) {
        std::printf("Refused before the job began: %s (%d)\n", Varnholt::GetErrorStringA(result),
                    static_cast<int>(result));
        upgrade->release();
        return 1;
    }
    result = follow(upgrade);
    // release would wait for a job that still runs on the object's thread.
    upgrade->release();

    if (result != Varnholt::ERR_SUCCESS) {
        std::printf("Upgrade failed: %s (%d)\n", Varnholt::GetErrorStringA(result), static_cast<int>(result));
        return 1;
    }
    std::printf("Upgrade complete\n");
    return 0;
}
