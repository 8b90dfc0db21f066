// The sound's clock: a line through the last seconds of stamps, following a drifting card
// smoothly and a real gap at once, deaf to a single stray stamp.

#include <cmath>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "Recorder/Timeline/SoundClock.h"

namespace Vantor::Lumo::Recorder {
namespace {

constexpr int kRate = 48000;
constexpr std::int64_t kPiece = 960;         // 20 ms at the nominal rate
constexpr std::int64_t kPieceTime = 20'000;  // microseconds
constexpr std::int64_t kStart = 5'000'000;   // the first stamp

// Feeds `pieces` pieces of 960 samples, the n-th stamped by `stamp(n)`; returns the times placed.
template <class Stamp>
std::vector<std::int64_t> Feed(SoundClock& clock, int pieces, Stamp stamp, int first = 0) {
    std::vector<std::int64_t> times;
    for (int n = first; n < first + pieces; ++n) {
        times.push_back(clock.Place(stamp(n), kPiece));
    }
    return times;
}

// A wobble of ±10 ms that looks random enough.
std::int64_t Wobble(int n) {
    return static_cast<std::int64_t>(10'000 * std::sin(n * 2.3));
}

TEST(SoundClockTest, ADriftingCardIsFollowedWithinAMillisecondThroughWobblingStamps) {
    for (const double ppm : {1000.0, -1000.0}) {
        SoundClock clock(kRate);
        // The card gives 48000 * (1 + ppm) samples a second: each piece lasts less or more.
        const double pieceTime = kPieceTime / (1 + ppm * 1e-6);
        const auto truth = [&](int n) { return kStart + std::llround(n * pieceTime); };
        const std::vector<std::int64_t> times =
            Feed(clock, 6000, [&](int n) { return truth(n) + Wobble(n); });
        for (int n = 500; n < 6000; ++n) {  // two minutes, after the first ten seconds
            ASSERT_NEAR(times[static_cast<std::size_t>(n)], truth(n), 1000) << ppm << " at " << n;
        }
        EXPECT_NEAR(clock.Rate(), kRate * (1 + ppm * 1e-6), 2.0) << ppm;
    }
}

TEST(SoundClockTest, AGapMovesTheTimeLineAtOnceAndAStrayStampMovesNothing) {
    SoundClock clock(kRate);
    const auto steady = [](int n) { return kStart + n * kPieceTime; };
    Feed(clock, 200, steady);  // 4 s
    // One stamp far off: the next is back on the line.
    EXPECT_EQ(clock.Place(steady(200) + 500'000, kPiece), steady(200));
    EXPECT_EQ(clock.Place(steady(201), kPiece), steady(201));
    // Half a second of sound lost on the way: the stamps jump ahead and stay there.
    const auto late = [](int n) { return kStart + n * kPieceTime + 500'000; };
    const std::vector<std::int64_t> times = Feed(clock, 10, late, 202);
    EXPECT_EQ(times[0], steady(202)) << "one stamp is no gap yet";
    EXPECT_EQ(times[1], late(203));
    EXPECT_EQ(times.back(), late(211));
}

// A fresh stream's first stamps are half a second early (a backlog handed over at once, its
// latency as it was), then hold steady: the sound before is placed by the steady ones.
TEST(SoundClockTest, AFreshStreamsSettlingStampsPlaceNothing) {
    SoundClock clock(kRate);
    const auto stamp = [](int n) {
        return kStart + n * kPieceTime - (n < 60 ? 500'000 - n * 8'000 : 0);
    };
    std::vector<std::int64_t> places;
    for (int n = 0; n < 100 && !clock.Settled(); ++n) {
        places.push_back(clock.Take(stamp(n), kPiece));
    }
    ASSERT_TRUE(clock.Settled());
    EXPECT_GE(places.size(), 75u) << "settled on the moving stamps";
    for (std::size_t n = 0; n < places.size(); ++n) {
        ASSERT_NEAR(clock.TimeOf(places[n]), kStart + static_cast<std::int64_t>(n) * kPieceTime,
                    1000)
            << n;
    }
}

// Stamps that never hold steady count after three seconds all the same.
TEST(SoundClockTest, StampsThatNeverSettleCountAfterThreeSeconds) {
    SoundClock clock(kRate);
    const auto stamp = [](int n) { return kStart + n * kPieceTime + 8 * Wobble(n); };
    int pieces = 0;
    while (!clock.Settled() && pieces < 1000) {
        clock.Take(stamp(pieces++), kPiece);
    }
    EXPECT_EQ(pieces, 151);
}

}  // namespace
}  // namespace Vantor::Lumo::Recorder
