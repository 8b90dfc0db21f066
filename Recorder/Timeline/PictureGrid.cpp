#include "Recorder/Timeline/PictureGrid.h"

#include <algorithm>

namespace Vantor::Lumo::Recorder {

PictureGrid::PictureGrid(int fps) : fps_(fps) {}

std::int64_t PictureGrid::SlotOf(std::int64_t time) const {
    // Rounded to the nearest slot, so a picture is shown at most half a slot from its capture.
    const std::int64_t scaled = time * fps_;
    const std::int64_t half = 500'000;
    return scaled >= 0 ? (scaled + half) / 1'000'000 : -((-scaled + half) / 1'000'000);
}

PictureGrid::Offer PictureGrid::Place(std::int64_t time) {
    const std::int64_t slot = SlotOf(time);
    Offer offer;
    if (!held_ || slot > *held_) {
        offer.release = held_;
        held_ = slot;
        offer.held = true;
    } else if (slot == *held_) {
        offer.dropped = true;
        offer.held = true;
    } else {
        offer.dropped = true;
    }
    return offer;
}

std::optional<std::int64_t> PictureGrid::Release() {
    const std::optional<std::int64_t> slot = held_;
    held_.reset();
    return slot;
}

std::int64_t PictureGrid::Repeats(std::int64_t last, std::int64_t next) {
    return std::max<std::int64_t>(next - last - 1, 0);
}

}  // namespace Vantor::Lumo::Recorder
