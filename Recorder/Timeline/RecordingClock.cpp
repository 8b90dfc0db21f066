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

// The screen waits this long for the sound to begin, then begins without it.
constexpr std::int64_t kLateSound = 2'000'000;

}  // namespace

RecordingClock::RecordingClock(bool pictures, bool sound, std::optional<std::int64_t> length,
                               std::string soundDescription)
    : pictures_(pictures),
      sound_(sound),
      length_(length),
      soundDescription_(std::move(soundDescription)) {}

bool RecordingClock::PictureBegins(std::int64_t time) {
    firstPicture_ = std::min(firstPicture_, time);
    if (origin_ == kNever) {
        const std::int64_t sound = soundStart_;
        if (sound != kNever) {
            SetOrigin(std::max(time, sound));
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
    if (soundStart_.compare_exchange_strong(unset, time) && !pictures_) {
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
    std::int64_t stop = stopAt_;
    while (time < stop && !stopAt_.compare_exchange_weak(stop, time)) {
    }
}

void RecordingClock::StopNow() {
    StopAt(av_gettime());
    SetOrigin(stopAt_);
}

std::int64_t RecordingClock::PicturesBefore(std::int64_t time, int fps) const {
    return av_rescale_rnd(time - WaitForOrigin(), fps, 1'000'000, AV_ROUND_UP);
}

double RecordingClock::Elapsed() const {
    const std::int64_t origin = origin_;
    const std::int64_t now = std::min<std::int64_t>(av_gettime(), stopAt_);
    return origin == kNever || now < origin ? 0.0 : (now - origin) / 1e6;
}

void RecordingClock::SetOrigin(std::int64_t time) {
    std::int64_t unset = kNever;
    if (origin_.compare_exchange_strong(unset, time) && length_) {
        StopAt(time + *length_);
    }
}

}  // namespace Vantor::Lumo::Recorder
