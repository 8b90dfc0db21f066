// The recording's one time line: time 0 on a picture of its own, pauses cut on whole picture
// slots from every stream alike, and a length that does not count them.

#include <chrono>
#include <thread>

#include <gtest/gtest.h>
extern "C" {
#include <libavutil/time.h>
}

#include "Recorder/Timeline/RecordingClock.h"

namespace Vantor::Lumo::Recorder {
namespace {

constexpr std::int64_t kSlot = 40'000;  // at 25 pictures a second

TEST(RecordingClockTest, TimeZeroIsThePictureAtOrAfterTheSoundsStart) {
    RecordingClock clock(25, true, std::nullopt, "the mic");
    clock.SoundBegins(1'000'500);
    EXPECT_FALSE(clock.PictureBegins(1'000'000)) << "before the sound";
    EXPECT_TRUE(clock.PictureBegins(1'040'000));
    EXPECT_EQ(clock.Origin(), 1'040'000);
    EXPECT_EQ(clock.OnTimeline(1'120'000), 80'000);
}

TEST(RecordingClockTest, APauseCutsWholeSlotsFromTheTimeLineAndTheLengthWaitsForIt) {
    RecordingClock clock(25, false, 10'000'000, "");
    const std::int64_t origin = av_gettime() - 1'000'000;
    ASSERT_TRUE(clock.PictureBegins(origin));
    EXPECT_EQ(clock.StopTime(), origin + 10'000'000);

    ASSERT_TRUE(clock.SetPaused(true));
    EXPECT_TRUE(clock.Paused());
    EXPECT_EQ(clock.StopTime(), RecordingClock::kNever) << "a paused length never ends";
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(clock.SetPaused(false));
    EXPECT_FALSE(clock.Paused());

    const std::vector<RecordingClock::Span> kept = clock.Unpaused(origin, origin + 20'000'000);
    ASSERT_EQ(kept.size(), 2u);
    const std::int64_t paused = kept[0].to;
    const std::int64_t resumed = kept[1].from;
    EXPECT_EQ((paused - origin) % kSlot, 0);
    EXPECT_EQ((resumed - origin) % kSlot, 0);
    EXPECT_GE(resumed - paused, 2 * kSlot);
    EXPECT_TRUE(clock.PausedAt(paused));
    EXPECT_FALSE(clock.PausedAt(resumed));
    // Within the pause is where it began; after it, the time line goes on from there.
    EXPECT_EQ(clock.OnTimeline(paused + 10'000), paused - origin);
    EXPECT_EQ(clock.OnTimeline(resumed + 5'000), paused - origin + 5'000);
    EXPECT_EQ(clock.StopTime(), origin + 10'000'000 + (resumed - paused));

    // Stopped while paused (or just before the pause's slot), the recording ends by then.
    ASSERT_TRUE(clock.SetPaused(true));
    clock.StopNow();
    const std::int64_t secondPause = clock.Unpaused(origin, RecordingClock::kNever).back().to;
    const std::int64_t beforePause =
        clock.OnTimeline(secondPause) - clock.OnTimeline(clock.StopTime());
    EXPECT_GE(beforePause, 0);
    EXPECT_LT(beforePause, kSlot);
    EXPECT_FALSE(clock.SetPaused(false)) << "the recording has ended";
}

}  // namespace
}  // namespace Vantor::Lumo::Recorder
