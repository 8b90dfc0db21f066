// The place of a screen's pictures on the time line: the count of pictures read, unless the
// device lags for a whole second or hands out a picture before its time.

#include <cstdint>
#include <optional>
#include <vector>

#include <gtest/gtest.h>

#include "Recorder/Timeline/PictureNumbers.h"

namespace Vantor::Lumo::Recorder {
namespace {

constexpr int kFps = 25;
constexpr std::int64_t kPeriod = 1'000'000 / kFps;

// Numbers pictures captured at `times`; -1 for a dropped one.
std::vector<std::int64_t> Number(PictureNumbers& numbers, const std::vector<std::int64_t>& times) {
    std::vector<std::int64_t> result;
    for (std::int64_t time : times) {
        result.push_back(numbers.Next(time).value_or(-1));
    }
    return result;
}

std::vector<std::int64_t> Counting(std::int64_t from, std::int64_t to) {
    std::vector<std::int64_t> numbers;
    for (std::int64_t n = from; n < to; ++n) {
        numbers.push_back(n);
    }
    return numbers;
}

TEST(PictureNumbersTest, PicturesOwedAfterAStallAndASmallSteadyLagFollowTheCount) {
    PictureNumbers numbers(kFps);
    std::vector<std::int64_t> times;
    for (std::int64_t n = 0; n < 125; ++n) {
        if (n < 15) {
            times.push_back(n * kPeriod + (n % 2) * 3000);
        } else if (n < 40) {
            // A second stalled; the device then hands out what it owes at once.
            times.push_back(40 * kPeriod - (40 - n) * 100);
        } else {
            times.push_back(n * kPeriod + 60'000);  // 1.5 pictures late from now on
        }
    }
    EXPECT_EQ(Number(numbers, times), Counting(0, 125));
}

TEST(PictureNumbersTest, ALagLastingASecondSkipsAheadToTheCaptureTimes) {
    PictureNumbers numbers(kFps);
    std::vector<std::int64_t> times;
    for (std::int64_t n = 0; n < 100; ++n) {
        // From the second second on, every picture comes 0.4 s (10 pictures) late.
        times.push_back(n * kPeriod + (n >= 25 ? 400'000 : 0));
    }
    const std::vector<std::int64_t> placed = Number(numbers, times);
    EXPECT_EQ(std::vector<std::int64_t>(placed.begin(), placed.begin() + 25), Counting(0, 25));
    for (std::size_t n = 1; n < placed.size(); ++n) {
        ASSERT_GT(placed[n], placed[n - 1]) << n;
    }
    // Within two seconds of the lag beginning, each picture sits where it was captured.
    for (std::int64_t n = 75; n < 100; ++n) {
        EXPECT_EQ(placed[n], times[n] / kPeriod) << n;
    }
}

TEST(PictureNumbersTest, APictureWellAheadOfItsNumberIsDroppedAndJitterIsNot) {
    PictureNumbers numbers(kFps);
    std::vector<std::int64_t> times;
    for (std::int64_t n = 0; n < 10; ++n) {
        times.push_back(n * kPeriod);
    }
    times.push_back(10 * kPeriod - 50'000);  // 1.25 pictures early: dropped
    times.push_back(10 * kPeriod - 20'000);  // half a picture early: jitter
    times.push_back(11 * kPeriod);
    std::vector<std::int64_t> expected = Counting(0, 10);
    expected.insert(expected.end(), {-1, 10, 11});
    EXPECT_EQ(Number(numbers, times), expected);
}

}  // namespace
}  // namespace Vantor::Lumo::Recorder
