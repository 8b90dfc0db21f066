#pragma once

// The same events on a stage's screen and in its sound, at known instants, to measure how well
// a recording keeps them together. Between events the screen is black and the sound silent.
// An event flashes the whole screen grey, brighter the longer since its instant (40 at the
// instant, one level a millisecond), so a picture's level tells when after the instant it was
// grabbed; and plays a 1 kHz burst into the null sink, placed by the latency the sound server
// reports so that it is heard at the instant. Nothing here depends on GoogleTest.

#include <atomic>
#include <string>
#include <thread>

#include "tests/Support/CaptureStage.h"

struct xcb_connection_t;
struct pa_simple;

namespace Vantor::Testing {

class SharedEvents {
public:
    static constexpr double kFirstLevel = 40.0;
    static constexpr double kLevelsPerSecond = 1000.0;

    // Starts the events, one every `periodSeconds`, and returns once the sound stream has
    // settled, a period before the first event (in about three seconds). Throws
    // std::runtime_error when the screen or the sound server refuses.
    SharedEvents(const CaptureStage& stage, double periodSeconds);
    // Stops and leaves the screen black.
    ~SharedEvents();
    SharedEvents(const SharedEvents&) = delete;
    SharedEvents& operator=(const SharedEvents&) = delete;

    // Seconds since the last instant at `now` (seconds of std::chrono::steady_clock);
    // negative before the first.
    double SinceInstant(double now) const;

private:
    void Flash();
    void Play();

    double period_;
    double first_;  // the first instant, on the steady clock in seconds
    std::atomic<bool> stopping_{false};
    xcb_connection_t* x_ = nullptr;
    pa_simple* pulse_ = nullptr;
    std::thread screen_;
    std::thread sound_;
};

}  // namespace Vantor::Testing
