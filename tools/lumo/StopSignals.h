#pragma once

#include <signal.h>

namespace Vantor::Lumo::Tool {

// SIGINT, SIGTERM and SIGHUP (the terminal closed) end a recording and keep it. They are
// blocked in every thread (the capture libraries start their own, which inherit the mask) and
// collected here, so no handler runs at an arbitrary point. Make it before any thread starts.
// SIGCONT is collected too, to tell a stopped process from a busy one, and SIGUSR1, which
// pauses and resumes the recording. SIGPIPE is ignored
// while it lives: a closed stdout must not kill the process before its files
// are finished; the failed write says so instead.
class StopSignals {
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Whether one of them has come; never waits.
    bool Arrived();
    // Whether the process was stopped and continued (SIGCONT) since the last call; never waits.
    bool Continued();
    // Whether SIGUSR1 came since the last call; never waits.
    bool PauseToggled();

private:
    sigset_t signals_{};
    sigset_t continued_{};
    sigset_t pause_{};
    sigset_t previous_{};
    struct sigaction previousPipe_ {};
    bool arrived_ = false;
};

}  // namespace Vantor::Lumo::Tool
