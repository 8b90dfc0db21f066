#pragma once

#include <cstdint>
#include <optional>

namespace Vantor::Lumo::Recorder {

// Numbers the pictures of a screen device on the recording's time line, one number a 1/fps s.
// The device keeps a schedule of one picture every 1/fps s from when it opened and, read late,
// hands out the pictures it owes at once; so the count of pictures read is their place on the
// schedule, and a stall of the machine costs no picture. Only when the pictures stay late for
// a whole second (the device can not keep up) does the numbering skip ahead, leaving a gap;
// a picture well ahead of its number is dropped.
class PictureNumbers {
public:
    explicit PictureNumbers(int fps);

    // The number of a picture captured `time` microseconds after the first one; nothing when
    // it is to be dropped.
    std::optional<std::int64_t> Next(std::int64_t time);

private:
    double fps_;
    double behind_;  // pictures the device may lag for a whole second before a skip
    std::int64_t next_ = 0;
    int seen_ = 0;              // pictures in the current second
    double leastLate_ = 1e300;  // the least lag in it, in pictures
};

}  // namespace Vantor::Lumo::Recorder
