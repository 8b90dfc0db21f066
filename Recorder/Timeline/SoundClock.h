#pragma once

#include <cstdint>
#include <deque>
#include <optional>

namespace Vantor::Lumo::Recorder {

// Capture times for the pieces of a sound device, from one steady clock. The device stamps a
// piece with the wall clock less its latency estimate: that wobbles by milliseconds, and for
// the first second of a fresh stream it runs off by up to a couple of hundred while the
// estimate settles. The samples themselves come without gaps, so their count is the clock:
// the first stamp says where sample 0 lies, and only later stamps that keep well away from the
// count for a whole second move it (sound lost on the way, a sound card drifting from the wall
// clock).
class SoundClock {
public:
    explicit SoundClock(int sampleRate);

    // Takes the next piece, of `count` samples stamped `stamp` microseconds, and answers the
    // capture time of its first sample. Logs (verbose) where sample 0 moved.
    std::int64_t Place(std::int64_t stamp, std::int64_t count);

private:
    struct Reading {
        std::int64_t at;     // microseconds of sound before the piece
        std::int64_t apart;  // its stamp less `at` and less zero_
    };

    const std::int64_t sampleRate_;
    std::int64_t samples_ = 0;
    std::optional<std::int64_t> zero_;  // when sample 0 was captured
    std::deque<Reading> away_;          // the readings since the stamps left the count
};

}  // namespace Vantor::Lumo::Recorder
