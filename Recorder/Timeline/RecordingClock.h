#pragma once

#include <atomic>
#include <cstdint>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace Vantor::Lumo::Recorder {

// The one time line of a recording, in microseconds of av_gettime()'s clock: its time 0 (the
// origin), its pauses and its end. Time 0 is the later of the first picture and the first sound,
// so neither stream opens with a stretch the other lacks; a sound source that says nothing is
// waited for only so long. A pause cuts its span out of every stream alike: what was captured
// in it is not recorded, and what comes after continues where the time line stopped. Safe to
// use from every thread of the recording.
class RecordingClock {
public:
    static constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();

    // A clock for a recording with pictures of `fps` a second (0: none), sound or both, of
    // `length` microseconds when given; `soundDescription` names the sound source in the log.
    RecordingClock(int fps, bool sound, std::optional<std::int64_t> length,
                   std::string soundDescription);

    // Whether the recording has begun by a picture captured at `time`, beginning it when the
    // sound has begun by then (or there is none, or it is late): time 0 is a picture's, so
    // pictures taken on a schedule of 1/fps fall on the slots of the time line.
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
    // The end, or kNever while none is set. A recording of a given length has none while
    // paused: the length counts on the time line.
    std::int64_t StopTime() const { return stopAt_; }

    // Pauses the time line, or resumes it, at the next slot for a picture (so the pauses cut
    // whole pictures); false when the recording has ended already.
    bool SetPaused(bool paused);
    bool Paused() const;
    // Whether `time` falls within a pause: what was captured then is not recorded.
    bool PausedAt(std::int64_t time) const;
    // Where on the time line sound or a picture captured at `time` goes: microseconds after the
    // origin, less the paused spans before it. A time within a pause goes where the pause began.
    std::int64_t OnTimeline(std::int64_t time) const;
    // The stretches of [from, to) captured outside every pause, in capture times.
    struct Span {
        std::int64_t from;
        std::int64_t to;
    };
    std::vector<Span> Unpaused(std::int64_t from, std::int64_t to) const;

    // How many pictures of `fps` a second the time line holds before `time`.
    std::int64_t PicturesBefore(std::int64_t time, int fps) const;
    // Seconds recorded so far, pauses left out.
    double Elapsed() const;

private:
    void SetOrigin(std::int64_t time);
    // With pausing_ held: the paused microseconds after the origin and before `time`, and the
    // end a recording of the given length has by now (kNever while paused).
    std::int64_t PausedBefore(std::int64_t time) const;
    std::int64_t LengthEnd() const;
    std::int64_t NextSlot(std::int64_t time) const;

    const int fps_;
    const bool sound_;
    const std::optional<std::int64_t> length_;
    const std::string soundDescription_;
    std::int64_t firstPicture_ = kNever;  // only the picture thread uses it
    std::atomic<std::int64_t> origin_{kNever};
    std::atomic<std::int64_t> soundStart_{kNever};
    std::atomic<std::int64_t> stopAt_{kNever};
    bool stopByLength_ = false;  // the end is the length's, and moves with the pauses

    mutable std::mutex pausing_;
    std::vector<Span> pauses_;  // in capture times; the last one open while paused
};

}  // namespace Vantor::Lumo::Recorder
