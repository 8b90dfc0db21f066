#include "tools/lumo/StopSignals.h"

#include <pthread.h>

#include <ctime>

namespace Vantor::Lumo::Tool {

StopSignals::StopSignals() {
    sigemptyset(&signals_);
    sigaddset(&signals_, SIGINT);
    sigaddset(&signals_, SIGTERM);
    sigaddset(&signals_, SIGHUP);
    sigemptyset(&continued_);
    sigaddset(&continued_, SIGCONT);
    sigemptyset(&pause_);
    sigaddset(&pause_, SIGUSR1);
    sigset_t blocked = signals_;
    sigaddset(&blocked, SIGCONT);
    sigaddset(&blocked, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &blocked, &previous_);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &previousPipe_);
}

StopSignals::~StopSignals() {
    // One more Ctrl-C while the files were being finished changes nothing any more.
    const timespec noWait{};
    while (sigtimedwait(&signals_, nullptr, &noWait) > 0) {
    }
    Continued();
    PauseToggled();
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    sigaction(SIGPIPE, &previousPipe_, nullptr);
}

bool StopSignals::Arrived() {
    const timespec noWait{};
    arrived_ = sigtimedwait(&signals_, nullptr, &noWait) > 0 || arrived_;
    return arrived_;
}

bool StopSignals::Continued() {
    const timespec noWait{};
    return sigtimedwait(&continued_, nullptr, &noWait) > 0;
}

bool StopSignals::PauseToggled() {
    const timespec noWait{};
    return sigtimedwait(&pause_, nullptr, &noWait) > 0;
}

}  // namespace Vantor::Lumo::Tool
