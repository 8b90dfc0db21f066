// The sound's clock: the sample count keeps time, and only a lasting disagreement of the
// stamps moves it.

#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "Recorder/Timeline/SoundClock.h"

namespace Vantor::Lumo::Recorder {
namespace {

constexpr int kRate = 48000;
constexpr std::int64_t kPiece = 960;         // 20 ms
constexpr std::int64_t kPieceTime = 20'000;  // microseconds
constexpr std::int64_t kStart = 5'000'000;   // the first stamp

// Feeds `pieces` pieces of 20 ms, the n-th stamped by `stamp(n)`; returns the times placed.
template <class Stamp>
std::vector<std::int64_t> Feed(SoundClock& clock, int pieces, Stamp stamp, int first = 0) {
    std::vector<std::int64_t> times;
    for (int n = first; n < first + pieces; ++n) {
        times.push_back(clock.Place(stamp(n), kPiece));
    }
    return times;
}

TEST(SoundClockTest, TheSampleCountKeepsTimeThroughWobblingAndSettlingStamps) {
    SoundClock clock(kRate);
    // Stamps that run 0.15 s ahead over the first half second, as a fresh stream's do, then
    // wobble by 10 ms either way.
    const auto stamp = [](int n) {
        const std::int64_t settling = n < 25 ? n * 6'000 : 150'000;
        const std::int64_t wobble = (n % 3 - 1) * 10'000;
        return kStart + n * kPieceTime + settling + wobble;
    };
    const std::vector<std::int64_t> times = Feed(clock, 500, stamp);
    for (std::size_t n = 0; n < times.size(); ++n) {
        ASSERT_EQ(times[n], kStart - 10'000 + static_cast<std::int64_t>(n) * kPieceTime) << n;
    }
}

TEST(SoundClockTest, StampsThatStayAwayForASecondMoveTheTimeLine) {
    SoundClock clock(kRate);
    const auto steady = [](int n) { return kStart + n * kPieceTime; };
    Feed(clock, 200, steady);  // 4 s
    // Half a second of sound lost on the way: the stamps jump ahead and stay there.
    const auto late = [](int n) { return kStart + n * kPieceTime + 500'000; };
    const std::vector<std::int64_t> times = Feed(clock, 100, late, 200);
    EXPECT_EQ(times.front(), steady(200)) << "a jump is no lasting disagreement yet";
    EXPECT_EQ(times.back(), late(299));
    // A short excursion is wobble: it moves nothing.
    const auto blip = [](int n) { return kStart + n * kPieceTime + 500'000 + 300'000; };
    Feed(clock, 25, blip, 300);
    EXPECT_EQ(clock.Place(late(325), kPiece), late(325));
}

TEST(SoundClockTest, EarlyStampsMoveTheTimeLineBackOnlyAfterTheStreamSettled) {
    SoundClock clock(kRate);
    // Two seconds of stamps 0.3 s early from the start: a fresh stream settling, not drift.
    const auto early = [](int n) { return kStart + n * kPieceTime - (n == 0 ? 0 : 300'000); };
    std::vector<std::int64_t> times = Feed(clock, 100, early);
    EXPECT_EQ(times.back(), kStart + 99 * kPieceTime);
    // Still early well after it should have settled: the sound card runs off the wall clock.
    times = Feed(clock, 300, early, 100);
    EXPECT_EQ(times.back(), early(399));
}

}  // namespace
}  // namespace Vantor::Lumo::Recorder
