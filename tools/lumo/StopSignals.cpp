#include "tools/lumo/StopSignals.h"

#include <pthread.h>

#include <ctime>

namespace Vantor::Lumo::Tool {

StopSignals::StopSignals() {
    sigemptyset(&signals_);
    sigaddset(&signals_, SIGINT);
    sigaddset(&signals_, SIGTERM);
    sigaddset(&signals_, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals_, &previous_);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &previousPipe_);
}

StopSignals::~StopSignals() {
    // One more Ctrl-C while the files were being finished changes nothing any more.
    const timespec noWait{};
    while (sigtimedwait(&signals_, nullptr, &noWait) > 0) {
    }
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    sigaction(SIGPIPE, &previousPipe_, nullptr);
}

bool StopSignals::Arrived() {
    const timespec noWait{};
    arrived_ = sigtimedwait(&signals_, nullptr, &noWait) > 0 || arrived_;
    return arrived_;
}

}  // namespace Vantor::Lumo::Tool
