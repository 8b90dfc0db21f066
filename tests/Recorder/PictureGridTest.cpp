// The place of a screen's pictures on the time line: the grid slot nearest each capture time,
// the later of two in a slot, the last one repeated in an empty slot.

#include <cstdint>
#include <map>
#include <vector>

#include <gtest/gtest.h>

#include "Recorder/Timeline/PictureGrid.h"

namespace Vantor::Lumo::Recorder {
namespace {

constexpr int kFps = 25;
constexpr std::int64_t kPeriod = 1'000'000 / kFps;

// What a run of pictures makes of the time line: which picture each slot shows first (by its
// index among `times`), and how many were dropped and repeated.
struct Placed {
    std::map<std::int64_t, std::size_t> slots;
    int dropped = 0;
    int repeated = 0;
};

Placed PlaceAll(const std::vector<std::int64_t>& times) {
    PictureGrid grid(kFps);
    Placed placed;
    std::size_t held = 0;
    std::int64_t last = -1;
    const auto put = [&](std::int64_t slot) {
        if (last >= 0) {
            placed.repeated += static_cast<int>(PictureGrid::Repeats(last, slot));
        }
        placed.slots[slot] = held;
        last = slot;
    };
    for (std::size_t n = 0; n < times.size(); ++n) {
        const PictureGrid::Offer offer = grid.Place(times[n]);
        if (offer.release) {
            put(*offer.release);
        }
        placed.dropped += offer.dropped ? 1 : 0;
        if (offer.held) {
            held = n;
        }
    }
    if (const auto slot = grid.Release()) {
        put(*slot);
    }
    return placed;
}

TEST(PictureGridTest, PicturesSitAtTheirCaptureTimesThroughJitterAndAStall) {
    std::vector<std::int64_t> times;
    for (std::int64_t n = 0; n < 10; ++n) {
        times.push_back(n * kPeriod + (n % 2 ? 15'000 : -15'000));  // jitter under half a slot
    }
    // A stall of 0.4 s: the next pictures show the screen after it, taken at once.
    times.push_back(20 * kPeriod);
    times.push_back(20 * kPeriod + 1000);
    times.push_back(21 * kPeriod);
    const Placed placed = PlaceAll(times);
    std::map<std::int64_t, std::size_t> expected;
    for (std::size_t n = 0; n < 10; ++n) {
        expected[static_cast<std::int64_t>(n)] = n;
    }
    expected[20] = 11;  // the later of the two in slot 20
    expected[21] = 12;
    EXPECT_EQ(placed.slots, expected);
    EXPECT_EQ(placed.dropped, 1);
    EXPECT_EQ(placed.repeated, 10);  // slots 10..19 show picture 9 again
}

TEST(PictureGridTest, APictureGoesToTheNearestSlotAndAStepBackIsDropped) {
    const PictureGrid grid(kFps);
    EXPECT_EQ(grid.SlotOf(0), 0);
    EXPECT_EQ(grid.SlotOf(kPeriod / 2 - 1), 0);
    EXPECT_EQ(grid.SlotOf(kPeriod / 2), 1);
    EXPECT_EQ(grid.SlotOf(-kPeriod / 2 - 1), -1);
    // The third picture's clock stepped back a slot behind the one held: it is left out.
    const Placed placed = PlaceAll({0, 3 * kPeriod, 2 * kPeriod, 4 * kPeriod});
    EXPECT_EQ(placed.slots, (std::map<std::int64_t, std::size_t>{{0, 0}, {3, 1}, {4, 3}}));
    EXPECT_EQ(placed.dropped, 1);
    EXPECT_EQ(placed.repeated, 2);
}

TEST(PictureGridTest, AFastDeviceKeepsTheLastPictureOfEachSlot) {
    std::vector<std::int64_t> times;
    for (std::int64_t n = 0; n < 30; ++n) {
        times.push_back(n * kPeriod / 3);  // three pictures a slot
    }
    const Placed placed = PlaceAll(times);
    EXPECT_EQ(placed.slots.size(), 11u);  // 0..10: the last picture rounds up
    EXPECT_EQ(placed.slots.at(5), 16u);   // 14, 15 and 16 round to slot 5
    EXPECT_EQ(placed.dropped, 19);
    EXPECT_EQ(placed.repeated, 0);
}

}  // namespace
}  // namespace Vantor::Lumo::Recorder
