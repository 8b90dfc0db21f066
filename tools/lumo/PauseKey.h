#pragma once

#include <termios.h>

namespace Vantor::Lumo::Tool {

// The `p` key pauses and resumes a recording when stdin is the terminal and lumo runs in its
// foreground: the terminal hands over keys at once and without echo while this lives, and gets
// its settings back after. Does nothing otherwise.
class PauseKey {
public:
    PauseKey();
    ~PauseKey();
    PauseKey(const PauseKey&) = delete;
    PauseKey& operator=(const PauseKey&) = delete;

    // Whether `p` was pressed (an odd number of times) since the last call; never waits.
    bool Pressed();

private:
    bool Foreground() const;

    bool active_ = false;
    termios previous_{};
};

}  // namespace Vantor::Lumo::Tool
