#include "Recorder/Timeline/SoundClock.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include <glog/logging.h>

namespace Vantor::Lumo::Recorder {

namespace {

// Long enough to average the stamps' wobble down to a millisecond, short enough to follow a
// card whose rate wanders with its temperature.
constexpr std::int64_t kWindow = 4'000'000;
// A line needs this much sound under it before its slope counts; until then, the mean.
constexpr std::int64_t kLeastSpan = 1'000'000;
// A fresh stream's stamps are off by up to half a second through its first second or so: its
// sound server reports the latency the source had before it adapted to the stream. They count
// once this much sound has come and they have held steady for the last 0.4 s, or once three
// seconds of sound have come, steady or not.
constexpr std::int64_t kSettlingAtLeast = 1'500'000;
constexpr std::int64_t kSteadyFor = 400'000;
constexpr std::int64_t kSteadyWithin = 15'000;
constexpr std::int64_t kSettleAtMost = 3'000'000;
// Farther off the line than this is a real gap, not wobble.
constexpr std::int64_t kGap = 200'000;
constexpr std::int64_t kLogEvery = 10'000'000;
// No sound card is half a percent off: stamps that run away faster are sound lost on the way,
// to be found as a gap, not followed.
constexpr double kMostSlope = 0.005;

}  // namespace

SoundClock::SoundClock(int sampleRate) : sampleRate_(sampleRate) {}

namespace {

// The least-squares line through the readings `use` allows.
template <class Reading, class Use>
void FitThrough(const std::deque<Reading>& window, Use use, double& at, double& apart,
                double& slope) {
    double count = 0;
    at = apart = 0;
    for (const Reading& reading : window) {
        if (use(reading)) {
            at += static_cast<double>(reading.at);
            apart += static_cast<double>(reading.apart);
            ++count;
        }
    }
    if (count == 0) {
        return;
    }
    at /= count;
    apart /= count;
    double covariance = 0, variance = 0;
    for (const Reading& reading : window) {
        if (use(reading)) {
            const double x = static_cast<double>(reading.at) - at;
            covariance += x * (static_cast<double>(reading.apart) - apart);
            variance += x * x;
        }
    }
    const bool spans = window.back().at - window.front().at >= kLeastSpan;
    slope =
        spans && variance > 0 ? std::clamp(covariance / variance, -kMostSlope, kMostSlope) : 0.0;
}

}  // namespace

double SoundClock::Line::At(std::int64_t time) const {
    return apart + slope * (static_cast<double>(time) - at);
}

// Twice: stamps read late in a burst (after the process was stopped, under load) stray from
// the line for a while, and the second fit leaves out what strays far beyond the usual wobble.
SoundClock::Line SoundClock::FitLine(const std::deque<Reading>& window) {
    Line line;
    FitThrough(
        window, [](const Reading&) { return true; }, line.at, line.apart, line.slope);
    std::vector<double> residuals;
    for (const Reading& reading : window) {
        residuals.push_back(std::fabs(static_cast<double>(reading.apart) - line.At(reading.at)));
    }
    std::nth_element(residuals.begin(), residuals.begin() + residuals.size() / 2, residuals.end());
    const double limit = std::max(3.0 * residuals[residuals.size() / 2], 1000.0);
    const Line first = line;
    FitThrough(
        window,
        [&](const Reading& reading) {
            return std::fabs(static_cast<double>(reading.apart) - first.At(reading.at)) <= limit;
        },
        line.at, line.apart, line.slope);
    return line;
}

double SoundClock::Rate() const {
    // `apart` grows by the slope for each microsecond of counted sound: the card is slow.
    return static_cast<double>(sampleRate_) / (1.0 + line_.slope);
}

bool SoundClock::Settled() const {
    return settled_;
}

std::int64_t SoundClock::TimeOf(std::int64_t at) const {
    const bool before = lineBefore_ && !window_.empty() && at < window_.front().at;
    return at + std::llround((before ? *lineBefore_ : line_).At(at));
}

std::int64_t SoundClock::Place(std::int64_t stamp, std::int64_t count) {
    return TimeOf(Take(stamp, count));
}

std::int64_t SoundClock::Take(std::int64_t stamp, std::int64_t count) {
    const std::int64_t at = samples_ * 1'000'000 / sampleRate_;
    samples_ += std::max<std::int64_t>(count, 0);
    const Reading reading{at, stamp - at};
    if (!settled_) {
        // Only the last readings count: the line starts from the first steady ones.
        window_.push_back(reading);
        while (at - window_.front().at > kSteadyFor) {
            window_.pop_front();
        }
        const auto [low, high] = std::minmax_element(
            window_.begin(), window_.end(),
            [](const Reading& a, const Reading& b) { return a.apart < b.apart; });
        settled_ = (at >= kSettlingAtLeast && high->apart - low->apart <= kSteadyWithin) ||
                   at >= kSettleAtMost;
        line_ = FitLine(window_);
        return at;
    }
    if (!window_.empty()) {
        const double off = static_cast<double>(reading.apart) - line_.At(at);
        if (std::fabs(off) > kGap) {
            if (!stray_ || (strayOff_ > 0) != (off > 0)) {
                stray_ = reading;
                strayOff_ = off;
                return at;
            }
            VLOG(1) << "lumo: the sound's stamps left its count by " << std::llround(off / 1000)
                    << " ms: a gap in the sound";
            lineBefore_ = line_;
            window_.assign({*stray_});
        }
    }
    stray_.reset();
    window_.push_back(reading);
    while (at - window_.front().at > kWindow) {
        window_.pop_front();
    }
    line_ = FitLine(window_);
    if (at - loggedAt_ >= kLogEvery) {
        loggedAt_ = at;
        VLOG(1) << "lumo: the sound runs at " << std::lround(Rate() * 10) / 10.0
                << " samples a second by the recording's clock";
    }
    return at;
}

}  // namespace Vantor::Lumo::Recorder
