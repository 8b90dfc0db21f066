#pragma once

// A sound card whose crystal runs `ppm` off the system clock, with SharedEvents' bursts in
// its sound: a writer feeds a pipe source 48000 * (1 + ppm / 10^6) samples a wall-clock second,
// each burst at the sample that this clock reaches at the event's instant. A recorder that
// trusts the nominal rate drifts by `ppm` microseconds a second. Nothing here depends on
// GoogleTest.

#include <atomic>
#include <string>
#include <thread>

#include "tests/Support/CaptureStage.h"
#include "tests/Support/SharedEvents.h"

namespace Vantor::Testing {

class DriftingSource {
public:
    // Adds the source `name` to the stage and starts feeding it. Throws std::runtime_error
    // when the source can not be added.
    DriftingSource(CaptureStage& stage, const std::string& name, double ppm,
                   const SharedEvents& events);
    ~DriftingSource();
    DriftingSource(const DriftingSource&) = delete;
    DriftingSource& operator=(const DriftingSource&) = delete;

private:
    void Feed();

    double rate_;
    const SharedEvents& events_;
    int fifo_ = -1;
    std::atomic<bool> stopping_{false};
    std::thread writer_;
};

}  // namespace Vantor::Testing
