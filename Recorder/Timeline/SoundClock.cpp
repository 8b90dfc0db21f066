#include "Recorder/Timeline/SoundClock.h"

#include <cmath>
#include <cstdlib>

#include <glog/logging.h>

namespace Vantor::Lumo::Recorder {

namespace {

// Long enough to average the stamps' wobble down to a millisecond, short enough to follow a
// card whose rate wanders with its temperature.
constexpr std::int64_t kWindow = 4'000'000;
// A line needs this much sound under it before its slope counts; until then, the mean.
constexpr std::int64_t kLeastSpan = 1'000'000;
// A fresh stream's stamps settle over its first second; once a second of later ones is there,
// they leave the line.
constexpr std::int64_t kSettling = 1'000'000;
// Farther off the line than this is a real gap, not wobble.
constexpr std::int64_t kGap = 200'000;
constexpr std::int64_t kLogEvery = 10'000'000;

}  // namespace

SoundClock::SoundClock(int sampleRate) : sampleRate_(sampleRate) {}

double SoundClock::Slope(const std::deque<Reading>& window) {
    if (window.size() < 2 || window.back().at - window.front().at < kLeastSpan) {
        return 0.0;
    }
    double meanAt = 0, meanApart = 0;
    for (const Reading& reading : window) {
        meanAt += static_cast<double>(reading.at);
        meanApart += static_cast<double>(reading.apart);
    }
    meanAt /= static_cast<double>(window.size());
    meanApart /= static_cast<double>(window.size());
    double covariance = 0, variance = 0;
    for (const Reading& reading : window) {
        covariance += (static_cast<double>(reading.at) - meanAt) *
                      (static_cast<double>(reading.apart) - meanApart);
        variance +=
            (static_cast<double>(reading.at) - meanAt) * (static_cast<double>(reading.at) - meanAt);
    }
    return covariance / variance;
}

double SoundClock::Fit(const std::deque<Reading>& window, std::int64_t at) {
    double meanAt = 0, meanApart = 0;
    for (const Reading& reading : window) {
        meanAt += static_cast<double>(reading.at);
        meanApart += static_cast<double>(reading.apart);
    }
    meanAt /= static_cast<double>(window.size());
    meanApart /= static_cast<double>(window.size());
    return meanApart + Slope(window) * (static_cast<double>(at) - meanAt);
}

double SoundClock::Rate() const {
    // `apart` grows by the slope for each microsecond of counted sound: the card is slow.
    return static_cast<double>(sampleRate_) / (1.0 + Slope(window_));
}

std::int64_t SoundClock::TimeOf(std::int64_t at) const {
    if (window_.empty()) {
        return at;
    }
    const bool before = before_ && at < window_.front().at;
    return at + std::llround(Fit(before ? *before_ : window_, at));
}

std::int64_t SoundClock::Place(std::int64_t stamp, std::int64_t count) {
    return TimeOf(Take(stamp, count));
}

std::int64_t SoundClock::Take(std::int64_t stamp, std::int64_t count) {
    const std::int64_t at = samples_ * 1'000'000 / sampleRate_;
    samples_ += std::max<std::int64_t>(count, 0);
    const Reading reading{at, stamp - at};
    if (!window_.empty()) {
        const double off = static_cast<double>(reading.apart) - Fit(window_, at);
        if (std::fabs(off) > kGap) {
            if (!stray_ || (strayOff_ > 0) != (off > 0)) {
                stray_ = reading;
                strayOff_ = off;
                return at;
            }
            VLOG(1) << "lumo: the sound's stamps left its count by " << std::llround(off / 1000)
                    << " ms: a gap in the sound";
            before_ = std::move(window_);
            window_.assign({*stray_});
        }
    }
    stray_.reset();
    window_.push_back(reading);
    while (at - window_.front().at > kWindow ||
           (window_.front().at < kSettling && at >= kSettling + kLeastSpan)) {
        window_.pop_front();
    }
    if (at - loggedAt_ >= kLogEvery) {
        loggedAt_ = at;
        VLOG(1) << "lumo: the sound runs at " << std::lround(Rate() * 10) / 10.0
                << " samples a second by the recording's clock";
    }
    return at;
}

}  // namespace Vantor::Lumo::Recorder
