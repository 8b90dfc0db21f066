#pragma once

#include <cstdint>
#include <deque>
#include <optional>

namespace Vantor::Lumo::Recorder {

// Capture times for the pieces of a sound device, following its stamps smoothly. The device
// stamps a piece with the wall clock less its latency estimate: that wobbles by milliseconds,
// is off by up to half a second in a fresh stream's first second, and a sound card's own
// crystal runs tens to hundreds of ppm off the recording's clock. So neither the count of samples
// nor a single stamp is the clock: a straight line through the last seconds of stamps against the
// count is. Its slope is the card's rate; a stamp that leaves it by more than 0.2 s twice in a row
// is a real gap (sound lost on the way), and the line starts anew there.
class SoundClock {
public:
    explicit SoundClock(int sampleRate);

    // Takes the next piece, of `count` samples stamped `stamp` microseconds, and answers its
    // place: the microseconds of sound before it by the nominal rate. Logs (verbose) the
    // measured rate every ten seconds and every gap.
    std::int64_t Take(std::int64_t stamp, std::int64_t count);
    // The capture time of the sound `at` microseconds into it, by the line as it stands now:
    // asked a second after the piece came, it is the settled answer. Sound from before the
    // last gap is placed by the line before it.
    std::int64_t TimeOf(std::int64_t at) const;
    // Whether the stamps have settled: a fresh stream's first ones are off by up to half a
    // second, and count only once they hold steady. Sound taken before is placed by the line
    // the settled stamps draw.
    bool Settled() const;
    // Take, then TimeOf at once.
    std::int64_t Place(std::int64_t stamp, std::int64_t count);
    // Samples a second of the source by the recording's clock, as measured so far.
    double Rate() const;

private:
    struct Reading {
        std::int64_t at;     // microseconds of sound before the piece, by the nominal rate
        std::int64_t apart;  // its stamp less `at`
    };
    // `apart` by `at`: through (at, apart), rising by `slope`.
    struct Line {
        double at = 0.0;
        double apart = 0.0;
        double slope = 0.0;
        double At(std::int64_t time) const;
    };
    static Line FitLine(const std::deque<Reading>& window);

    const std::int64_t sampleRate_;
    std::int64_t samples_ = 0;
    std::deque<Reading> window_;
    Line line_;
    bool settled_ = false;
    std::optional<Line> lineBefore_;  // the line before the last gap
    std::optional<Reading> stray_;    // one reading far off the line, until the next says more
    double strayOff_ = 0.0;           // how far off, in microseconds
    std::int64_t loggedAt_ = 0;
};

}  // namespace Vantor::Lumo::Recorder
