#include "Recorder/Timeline/SoundClock.h"

#include <algorithm>
#include <cstdlib>

#include <glog/logging.h>

namespace Vantor::Lumo::Recorder {

namespace {

// A disagreement this large, kept up this long, moves sample 0. Smaller or shorter ones are
// the stamps' wobble and the settling of a fresh stream; correcting them would cut gaps into
// the sound for nothing.
constexpr std::int64_t kResync = 200'000;
constexpr std::int64_t kSustained = 1'000'000;
// A fresh stream's latency estimate takes this long to settle; its stamps move sample 0 only
// after it.
constexpr std::int64_t kSettling = 3'000'000;

}  // namespace

SoundClock::SoundClock(int sampleRate) : sampleRate_(sampleRate) {}

std::int64_t SoundClock::Place(std::int64_t stamp, std::int64_t count) {
    const std::int64_t at = samples_ * 1'000'000 / sampleRate_;
    samples_ += std::max<std::int64_t>(count, 0);
    if (!zero_) {
        zero_ = stamp;
        return stamp;
    }
    const Reading reading{at, stamp - at - *zero_};
    const bool away = at >= kSettling && std::llabs(reading.apart) > kResync;
    if (!away || (!away_.empty() && (away_.back().apart > 0) != (reading.apart > 0))) {
        away_.clear();
    }
    if (away) {
        away_.push_back(reading);
    }
    if (away_.empty() || reading.at - away_.front().at < kSustained) {
        return *zero_ + at;
    }
    // The mean, since single stamps still wobble around the new level.
    std::int64_t sum = 0;
    for (const Reading& each : away_) {
        sum += each.apart;
    }
    const std::int64_t moved = sum / static_cast<std::int64_t>(away_.size());
    *zero_ += moved;
    away_.clear();
    VLOG(1) << "lumo: the sound's stamps kept " << moved << " us away from its sample count; "
            << "its time line follows them";
    return *zero_ + at;
}

}  // namespace Vantor::Lumo::Recorder
