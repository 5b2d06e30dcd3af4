// Ctrl-C (SIGINT) and SIGTERM during a long command (a buzz, light averaging, the controller, a
// calibration, a firmware job, following a job): the one place where the tool hears them.
//
// A command that lasts makes a StopSignals before it makes its library objects. The signals are
// then blocked in this thread and in every thread the library starts from here on, so they wait
// until the command asks for them between its steps, and the command ends in its own orderly way:
// buzzer off, calculations stopped, objects released, the session's locks given back. Work the
// library cannot break off (a timed buzz, a firmware job) ends with the process instead; the system
// gives the locks of an ended process back.
#pragma once

#include <chrono>
#include <functional>

namespace pelmux::cli {

class StopSignals {
public:
    StopSignals();
    // Takes a signal that came after the last wait (the command has finished anyway), then lets the
    // signals act as usual again; both only when no enclosing command had them blocked already.
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Waits up to `limit` for SIGINT or SIGTERM; answers the signal, or 0 when none came.
    int waitFor(std::chrono::milliseconds limit);
    // Waits until SIGINT or SIGTERM comes; answers the signal.
    int wait();
    // Runs `work` (a call into the library that blocks) on a thread of its own and waits for it or
    // for a signal; answers 0 when the work ended, the signal otherwise. On a signal the work runs
    // on: the caller ends it in its own way, or ends the process (endAfterStop).
    int runUntilStopped(const std::function<void()>& work);

private:
    bool outer_ = false; // the signals were blocked before: an enclosing command waits for them
};

// The exit code of a command that a signal stopped: 128 + the signal, as a shell reports it.
int stoppedExitCode(int signal);

// "Interrupted" for SIGINT, "Terminated" for SIGTERM.
const char* stopName(int signal);

// Ends the process at once with stoppedExitCode(signal), after writing what is buffered: for work
// the library cannot break off, whose thread would keep the process alive or end in the middle of
// it when the objects are freed.
[[noreturn]] void endAfterStop(int signal);

} // namespace pelmux::cli
