#pragma once

// The X11 screen read straight through XCB's shared-memory extension, so that each picture is
// stamped where its pixels are read.

#include <cstdint>
#include <optional>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/buffer.h>
}

struct xcb_connection_t;

namespace Vantor::Lumo::Recorder {

// One connection to a display that grabs a rectangle of its root window `fps` times a second.
// A picture's capture time is the middle of its request's round trip, on av_gettime()'s clock:
// the server copies the pixels in between. Pictures are packed rows of BGR0 (depth 24 or 32) or
// RGB565 (depth 16) in shared memory handed out with the packet, so none is copied.
class XcbGrab {
public:
    // Connects to `display` (":1") and checks the extension and the screen's depth. Throws
    // std::runtime_error naming `description` when it can not.
    XcbGrab(const std::string& display, std::string description, int fps);
    ~XcbGrab();
    XcbGrab(const XcbGrab&) = delete;
    XcbGrab& operator=(const XcbGrab&) = delete;

    // The size of the whole screen as it is now. Throws std::runtime_error when the display
    // does not answer.
    std::pair<int, int> ScreenSize();
    // From now on grabs `width`x`height` at (`x`, `y`).
    void Choose(int x, int y, int width, int height);
    const AVCodecParameters& Parameters() const { return *parameters_; }
    // Waits for the next picture's turn (not at all when late: a late picture is taken at once
    // and none owed is made up), grabs it into `packet` and answers its capture time. Throws
    // std::runtime_error naming the display when the grab fails.
    std::int64_t Read(AVPacket& packet);

private:
    xcb_connection_t* connection_ = nullptr;
    std::uint32_t root_ = 0;
    std::string description_;
    int fps_;
    std::int64_t start_ = 0;  // when the first picture was taken
    std::int64_t turn_ = -1;  // of the picture taken last, counted from the first
    AVCodecParameters* parameters_ = nullptr;
    int x_ = 0;
    int y_ = 0;
    AVBufferPool* segments_ = nullptr;  // of shared memory, one a picture in flight
};

}  // namespace Vantor::Lumo::Recorder
