#include "tools/lumo/PauseKey.h"

#include <unistd.h>

namespace Vantor::Lumo::Tool {

PauseKey::PauseKey() {
    // A background job that touches the terminal is stopped by it (SIGTTOU, SIGTTIN).
    if (!isatty(STDIN_FILENO) || !Foreground() || tcgetattr(STDIN_FILENO, &previous_) != 0) {
        return;
    }
    termios keys = previous_;
    keys.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    keys.c_cc[VMIN] = 0;  // a read returns at once, with what there is
    keys.c_cc[VTIME] = 0;
    active_ = tcsetattr(STDIN_FILENO, TCSANOW, &keys) == 0;
}

PauseKey::~PauseKey() {
    if (active_ && Foreground()) {
        tcsetattr(STDIN_FILENO, TCSANOW, &previous_);
    }
}

bool PauseKey::Pressed() {
    if (!active_ || !Foreground()) {
        return false;
    }
    bool toggled = false;
    char keys[64];
    ssize_t count = 0;
    while ((count = read(STDIN_FILENO, keys, sizeof keys)) > 0) {
        for (ssize_t n = 0; n < count; ++n) {
            toggled ^= keys[n] == 'p' || keys[n] == 'P';
        }
    }
    return toggled;
}

bool PauseKey::Foreground() const {
    return tcgetpgrp(STDIN_FILENO) == getpgrp();
}

}  // namespace Vantor::Lumo::Tool
