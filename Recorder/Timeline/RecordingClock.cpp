#include "Recorder/Timeline/RecordingClock.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include <glog/logging.h>
extern "C" {
#include <libavutil/mathematics.h>
#include <libavutil/time.h>
}

namespace Vantor::Lumo::Recorder {

namespace {

// The screen waits this long for the sound to begin, then begins without it. A sound source
// knows when it began once its stamps have settled, which takes up to three seconds.
constexpr std::int64_t kLateSound = 4'000'000;

}  // namespace

RecordingClock::RecordingClock(int fps, bool sound, std::optional<std::int64_t> length,
                               std::string soundDescription)
    : fps_(fps), sound_(sound), length_(length), soundDescription_(std::move(soundDescription)) {}

bool RecordingClock::PictureBegins(std::int64_t time) {
    firstPicture_ = std::min(firstPicture_, time);
    if (origin_ == kNever) {
        const std::int64_t sound = soundStart_;
        if (sound != kNever) {
            if (time < sound) {
                return false;
            }
            SetOrigin(time);
        } else if (!sound_) {
            SetOrigin(time);
        } else if (time - firstPicture_ > kLateSound) {
            LOG(WARNING) << "lumo: no sound yet from " << soundDescription_
                         << "; the recording begins without it";
            SetOrigin(time);
        }
    }
    return time >= origin_;
}

void RecordingClock::SoundBegins(std::int64_t time) {
    std::int64_t unset = kNever;
    if (soundStart_.compare_exchange_strong(unset, time) && fps_ == 0) {
        SetOrigin(time);
    }
}

std::int64_t RecordingClock::WaitForOrigin() const {
    std::int64_t origin = origin_;
    while (origin == kNever) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        origin = origin_;
    }
    return origin;
}

void RecordingClock::StopAt(std::int64_t time) {
    const std::lock_guard<std::mutex> lock(pausing_);
    if (time < stopAt_) {
        stopAt_ = time;
        stopByLength_ = false;
    }
}

void RecordingClock::StopNow() {
    StopAt(av_gettime());
    SetOrigin(stopAt_);
}

bool RecordingClock::SetPaused(bool paused) {
    const std::int64_t now = av_gettime();
    const std::lock_guard<std::mutex> lock(pausing_);
    if (now >= stopAt_) {
        return false;
    }
    const bool open = !pauses_.empty() && pauses_.back().to == kNever;
    if (paused && !open) {
        pauses_.push_back({NextSlot(now), kNever});
    } else if (!paused && open) {
        pauses_.back().to = std::max(NextSlot(now), pauses_.back().from);
    }
    if (stopByLength_) {
        stopAt_ = LengthEnd();
    }
    return true;
}

bool RecordingClock::Paused() const {
    const std::lock_guard<std::mutex> lock(pausing_);
    return !pauses_.empty() && pauses_.back().to == kNever;
}

bool RecordingClock::PausedAt(std::int64_t time) const {
    const std::lock_guard<std::mutex> lock(pausing_);
    return std::any_of(pauses_.begin(), pauses_.end(),
                       [time](const Span& pause) { return pause.from <= time && time < pause.to; });
}

std::int64_t RecordingClock::OnTimeline(std::int64_t time) const {
    const std::lock_guard<std::mutex> lock(pausing_);
    return time - origin_ - PausedBefore(time);
}

std::vector<RecordingClock::Span> RecordingClock::Unpaused(std::int64_t from,
                                                           std::int64_t to) const {
    std::vector<Span> spans;
    const std::lock_guard<std::mutex> lock(pausing_);
    for (const Span& pause : pauses_) {
        if (pause.from >= to) {
            break;
        }
        if (pause.from > from) {
            spans.push_back({from, pause.from});
        }
        from = std::max(from, pause.to);
    }
    if (from < to) {
        spans.push_back({from, to});
    }
    return spans;
}

std::int64_t RecordingClock::PicturesBefore(std::int64_t time, int fps) const {
    WaitForOrigin();
    return av_rescale_rnd(OnTimeline(time), fps, 1'000'000, AV_ROUND_UP);
}

double RecordingClock::Elapsed() const {
    if (origin_ == kNever) {
        return 0.0;
    }
    const std::int64_t now = std::min<std::int64_t>(av_gettime(), stopAt_);
    return std::max<std::int64_t>(OnTimeline(now), 0) / 1e6;
}

void RecordingClock::SetOrigin(std::int64_t time) {
    std::int64_t unset = kNever;
    if (origin_.compare_exchange_strong(unset, time) && length_) {
        const std::lock_guard<std::mutex> lock(pausing_);
        const std::int64_t end = LengthEnd();
        if (end < stopAt_) {
            stopAt_ = end;
            stopByLength_ = true;
        }
    }
}

std::int64_t RecordingClock::PausedBefore(std::int64_t time) const {
    std::int64_t paused = 0;
    for (const Span& pause : pauses_) {
        const std::int64_t from = std::max<std::int64_t>(pause.from, origin_);
        const std::int64_t to = std::min(pause.to, time);
        paused += std::max<std::int64_t>(to - from, 0);
    }
    return paused;
}

std::int64_t RecordingClock::LengthEnd() const {
    if (origin_ == kNever || (!pauses_.empty() && pauses_.back().to == kNever)) {
        return kNever;
    }
    return origin_ + *length_ + PausedBefore(kNever);
}

std::int64_t RecordingClock::NextSlot(std::int64_t time) const {
    if (fps_ == 0 || origin_ == kNever) {
        return time;
    }
    const std::int64_t slot = av_rescale_rnd(time - origin_, fps_, 1'000'000, AV_ROUND_UP);
    return origin_ + av_rescale(slot, 1'000'000, fps_);
}

}  // namespace Vantor::Lumo::Recorder
