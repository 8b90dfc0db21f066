#pragma once

// The X11 screen as a picture source, grabbed through XCB (see XcbGrab).

#include <memory>
#include <optional>
#include <string>

#include "Recorder/Sources/Source.h"

namespace Vantor::Lumo::Recorder {

// A rectangle of the screen, as "WxH+X+Y" writes it.
struct Region {
    int width = 0;
    int height = 0;
    int x = 0;
    int y = 0;
};

// "1280x720+0+0" -> its region; nothing for any other text, an empty rectangle, or one whose
// far corner lies beyond what a screen can have.
std::optional<Region> ParseRegion(const std::string& text);

struct ScreenRequest {
    std::string display;           // ":0"
    std::optional<Region> region;  // the whole screen when absent
    int fps = 30;
};

// Opens the display and checks the request against it. The source gives pictures of the
// rectangle with even sides (an odd last row or column is left out). Throws std::runtime_error
// naming the display when it can not be opened, when the region does not fit in the screen, or
// when the picture would be smaller than 2x2. Blocks for as long as the X server takes to
// answer: a caller that must not hang runs it through WaitOrAbandon.
std::unique_ptr<Source> OpenScreen(const ScreenRequest& request);

}  // namespace Vantor::Lumo::Recorder
