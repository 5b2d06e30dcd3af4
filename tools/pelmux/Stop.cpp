#include "Stop.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <memory>
#include <pthread.h>
#include <thread>
#include <unistd.h>

namespace pelmux::cli {

namespace {

sigset_t stopSet()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

// How often a wait for blocking work looks whether it has ended.
constexpr std::chrono::milliseconds workPoll{20};

} // namespace

StopSignals::StopSignals()
{
    const sigset_t set = stopSet();
    sigset_t before;
    pthread_sigmask(SIG_BLOCK, &set, &before);
    outer_ = sigismember(&before, SIGINT) == 1;
}

StopSignals::~StopSignals()
{
    // Signals that someone around this command already waits for (the tour between its steps)
    // stay theirs: neither taken here nor let loose.
    if (outer_)
        return;
    waitFor(std::chrono::milliseconds(0));
    const sigset_t set = stopSet();
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

int StopSignals::waitFor(std::chrono::milliseconds limit)
{
    const sigset_t set = stopSet();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(limit);
    const timespec timeout{static_cast<std::time_t>(seconds.count()),
                           static_cast<long>(std::chrono::nanoseconds(limit - seconds).count())};
    for (;;) {
        const int signal = sigtimedwait(&set, nullptr, &timeout);
        if (signal > 0)
            return signal;
        // EINTR: another signal (a child's end) cut the wait short; the time-out is near enough.
        if (errno != EINTR)
            return 0;
    }
}

int StopSignals::wait()
{
    const sigset_t set = stopSet();
    int signal = 0;
    while (sigwait(&set, &signal) != 0) {
    }
    return signal;
}

int StopSignals::runUntilStopped(const std::function<void()>& work)
{
    // Shared with the thread, which may outlive this call when a signal comes first.
    auto ended = std::make_shared<std::atomic<bool>>(false);
    std::thread worker([work, ended] {
        work();
        ended->store(true);
    });
    while (!ended->load()) {
        if (const int signal = waitFor(workPoll); signal != 0) {
            worker.detach();
            return signal;
        }
    }
    worker.join();
    return 0;
}

int stoppedExitCode(int signal)
{
    return 128 + signal;
}

const char* stopName(int signal)
{
    return signal == SIGTERM ? "Terminated" : "Interrupted";
}

void endAfterStop(int signal)
{
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    ::_exit(stoppedExitCode(signal));
}

} // namespace pelmux::cli
