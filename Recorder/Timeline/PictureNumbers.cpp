#include "Recorder/Timeline/PictureNumbers.h"

#include <algorithm>
#include <cmath>

#include <glog/logging.h>

namespace Vantor::Lumo::Recorder {

namespace {

// Capture times jitter by milliseconds, and by more on a busy machine.
constexpr double kSlack = 1.1;  // pictures
// A lasting lag beyond this is corrected: sound and pictures stay within it of each other.
constexpr double kLastingLag = 0.1;  // seconds

}  // namespace

PictureNumbers::PictureNumbers(int fps) : fps_(fps), behind_(std::max(kSlack, kLastingLag * fps)) {}

std::optional<std::int64_t> PictureNumbers::Next(std::int64_t time) {
    const double late = time * fps_ / 1e6 - static_cast<double>(next_);
    if (late < -kSlack) {
        VLOG(1) << "lumo: dropped a picture captured too early for " << next_;
        return std::nullopt;
    }
    leastLate_ = std::min(leastLate_, late);
    if (++seen_ >= fps_) {
        if (leastLate_ > behind_) {
            const auto skipped = static_cast<std::int64_t>(std::floor(leastLate_));
            VLOG(1) << "lumo: the screen fell behind by " << skipped << " pictures";
            next_ += skipped;
        }
        seen_ = 0;
        leastLate_ = 1e300;
    }
    return next_++;
}

}  // namespace Vantor::Lumo::Recorder
