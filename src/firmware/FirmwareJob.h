// One firmware job at a time and the status it posts: the job lock every process shares, the status
// record the running job writes and the application collects, the two semaphores that guard and
// announce it, and the image file name of the current job. The upgrade object owns one; a flasher
// is handed it for the length of one run.
#pragma once

#include "platform/Semaphore.h"

#include <pelmux/FirmwareUpgrade.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <utility>

namespace pelmux {

using Varnholt::ResultCode;
using Varnholt::UpgradeAction;
using Varnholt::UpgradeStatus;

// The job lock shared by every process of the session: one firmware job at a time.
inline constexpr const char* upgradeInProgressName = "PELMUX_FIRMWARE_UPGRADE_IN_PROGRESS";

// Longest image file name a job keeps, terminator included.
inline constexpr std::size_t jobFileNameSize = 256;

// The percent of a step's `total` units that `done` stands for: unsigned 32-bit arithmetic,
// truncated, as every job's progress has always been computed. `total` is not 0.
inline std::uint8_t percentOf(std::uint32_t done, std::uint32_t total)
{
    return static_cast<std::uint8_t>(done * 100u / total);
}

class FirmwareJob {
public:
    // Creates the two unnamed status semaphores and opens the job lock; one that cannot be made
    // stays null, and what needs it then does without (no posting, no lock: every start refused).
    // The destructor closes them: no job may be running on this object any more.
    FirmwareJob();
    ~FirmwareJob();

    // Takes the job lock without waiting. False when it is missing or another job holds it, in this
    // process or another. Does not block.
    bool tryTake();
    // Gives the job lock back for a job refused before it ran.
    void giveBack();

    // Starts the job on the image file `fileName`: both status copies go back to zeros and the name
    // is kept. The caller holds the lock and has checked the name holds fewer than jobFileNameSize
    // characters.
    void begin(const char* fileName);
    const char* fileName() const { return fileName_; }

    // Posts (errorCode, percent, currentAction) for the application unless it equals the last
    // posting of this object or the status semaphores are missing; wakes a caller waiting in
    // collect(). Waits for the status lock, which is only ever held for a copy.
    void post(ResultCode errorCode, std::uint8_t percent, std::uint32_t currentAction);
    // The same within the step last posted.
    void post(ResultCode errorCode, std::uint8_t percent);

    // Ends the job: on failure waits 100 ms and posts (result, 0, UPGRADE_FAILED), otherwise posts
    // (ERR_SUCCESS, 0, UPGRADE_COMPLETE); then gives the job lock back, the very last step of every
    // job. Returns `result`.
    ResultCode finish(ResultCode result);

    // The newest status posted, or the copy last handed out when nothing new was posted. `wait`
    // true blocks until a posting arrives (the first call after construction returns at once);
    // false never blocks. Postings between two calls collapse into the newest.
    UpgradeStatus collect(bool wait);

    // Tests: called on the job's thread with every status posted, in order, after it was written;
    // postings collapse for an application collecting the status, not here.
    using PostObserver = std::function<void(const UpgradeStatus& posted)>;
    void setPostObserver(PostObserver observer) { postObserver_ = std::move(observer); }

private:
    // The semaphores are this object's own.
    FirmwareJob(const FirmwareJob&) = delete;
    FirmwareJob& operator=(const FirmwareJob&) = delete;

    platform::SemaphoreHandle statusLock_ = nullptr;
    platform::SemaphoreHandle statusPosted_ = nullptr;
    platform::SemaphoreHandle upgradeInProgress_ = nullptr;
    // What the running job writes under statusLock_, and the copy last handed out by collect().
    UpgradeStatus sharedStatus_{};
    UpgradeStatus cachedStatus_{};
    // The last posting, which the next one is compared with; kept from one job to the next.
    UpgradeStatus lastPosted_{};
    char fileName_[jobFileNameSize] = {};
    PostObserver postObserver_;
};

} // namespace pelmux
