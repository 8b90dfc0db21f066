#pragma once

#include <atomic>
#include <cstdint>

namespace Vantor::Lumo::Recorder {

// What a recording has done so far; written by its threads, read by anyone.
struct RecordingCounters {
    std::atomic<std::int64_t> packetsWritten{0};  // of every stream
    std::atomic<std::int64_t> framesWritten{0};   // pictures
    // Pictures captured but left out because the machine could not keep up.
    std::atomic<std::int64_t> framesDropped{0};
    // Slots of the time line no new picture was captured for, showing the one before again;
    // counted in framesWritten too.
    std::atomic<std::int64_t> framesRepeated{0};
    // Pictures left out around a span in which the process itself was stopped (SIGSTOP, a
    // suspended laptop): no fault of the machine's speed.
    std::atomic<std::int64_t> framesLostWhileStopped{0};
    std::atomic<std::int64_t> stoppedMicroseconds{0};  // the length of those spans
};

}  // namespace Vantor::Lumo::Recorder
