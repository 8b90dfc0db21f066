#pragma once

#include <cstdint>
#include <optional>

namespace Vantor::Lumo::Recorder {

// Places a screen's pictures on the time line's grid of one slot a 1/fps s, by when each was
// captured: a picture goes into the slot nearest its capture time and nowhere else. Of two
// pictures in one slot the later is kept, since it shows the screen as the slot ends. So each
// picture is held until a later one lands in a later slot; a slot no picture lands in repeats
// the one before, which is what the screen showed then (see Repeats).
class PictureGrid {
public:
    explicit PictureGrid(int fps);

    // What becomes of a picture offered to the grid and of the one held before it.
    struct Offer {
        std::optional<std::int64_t> release;  // the held picture is final, in this slot
        bool dropped = false;                 // the held picture or this one is left out
        bool held = false;                    // this picture is held now
    };

    // The slot of a picture captured `time` microseconds after the time line's origin.
    std::int64_t SlotOf(std::int64_t time) const;
    // Offers a picture captured `time` microseconds after the origin. A picture whose slot lies
    // before the held one's (the capture clock stepped back) is the one dropped.
    Offer Place(std::int64_t time);
    // The slot of the picture still held, which is final now; nothing when none is held.
    std::optional<std::int64_t> Release();

    // How often the picture in slot `last` repeats before the next one, in slot `next`.
    static std::int64_t Repeats(std::int64_t last, std::int64_t next);

private:
    std::int64_t fps_;
    std::optional<std::int64_t> held_;  // the slot of the held picture
};

}  // namespace Vantor::Lumo::Recorder
