// One simulated unit per root folder. A second unit on the same root would take over the first's
// board socket and COM1 and leave the first running but unreachable; the lock refuses it instead.
#pragma once

#include <string>

namespace pelmux::sim {

class RootLock {
public:
    // Takes `root` (an existing folder) for this unit: an exclusive lock on root/sim.lock, which
    // holds the holder's process id. The system drops the lock with its holder, so a unit killed
    // without cleaning up stops no one; the file itself stays. Does not block: throws
    // std::runtime_error naming the root and the running unit's process id when another unit
    // (in this process or another) holds it, or when the file cannot be made.
    explicit RootLock(const std::string& root);
    // Gives the root free again.
    ~RootLock();
    RootLock(const RootLock&) = delete;
    RootLock& operator=(const RootLock&) = delete;

    // The lock file's path under `root`.
    static std::string path(const std::string& root);

private:
    int fd_ = -1;
};

} // namespace pelmux::sim
