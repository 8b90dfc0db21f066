#pragma once

#include <atomic>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

namespace Vantor::Lumo::Recorder {

// The one time line of a recording, in microseconds of av_gettime()'s clock: its time 0 (the
// origin) and its end. Time 0 is the later of the first picture and the first sound, so neither
// stream opens with a stretch the other lacks; a sound source that says nothing is waited for
// only so long. Safe to use from every thread of the recording.
class RecordingClock {
public:
    static constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();

    // A clock for a recording with pictures, sound or both, of `length` microseconds when given;
    // `soundDescription` names the sound source in the log.
    RecordingClock(bool pictures, bool sound, std::optional<std::int64_t> length,
                   std::string soundDescription);

    // Whether the recording has begun by a picture captured at `time`, beginning it when the
    // sound has begun too (or there is none, or it is late).
    bool PictureBegins(std::int64_t time);
    // The first sound was captured at `time`.
    void SoundBegins(std::int64_t time);
    // Waits for the origin; StopNow fixes it too, so this never waits for ever.
    std::int64_t WaitForOrigin() const;
    // The origin, or kNever before it is known.
    std::int64_t Origin() const { return origin_; }

    // Nothing captured at or after `time` is recorded; an earlier end already set stays.
    void StopAt(std::int64_t time);
    // Ends the recording now; one that never began begins and ends here.
    void StopNow();
    // The end, or kNever while none is set.
    std::int64_t StopTime() const { return stopAt_; }
    // How many pictures of `fps` a second the time line holds before `time`.
    std::int64_t PicturesBefore(std::int64_t time, int fps) const;
    // Seconds recorded so far.
    double Elapsed() const;

private:
    void SetOrigin(std::int64_t time);

    const bool pictures_;
    const bool sound_;
    const std::optional<std::int64_t> length_;
    const std::string soundDescription_;
    std::int64_t firstPicture_ = kNever;  // only the picture thread uses it
    std::atomic<std::int64_t> origin_{kNever};
    std::atomic<std::int64_t> soundStart_{kNever};
    std::atomic<std::int64_t> stopAt_{kNever};
};

}  // namespace Vantor::Lumo::Recorder
