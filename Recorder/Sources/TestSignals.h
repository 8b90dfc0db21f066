#pragma once

// Sources that need no device: a picture that visibly moves and a steady tone. They deliver in
// real time, as a device would, so a recording of them goes the same road as a live one.

#include <memory>

#include "Recorder/Sources/Source.h"

namespace Vantor::Lumo::Recorder {

// 320x240 YUV 4:2:0 at 25 pictures a second: a scrolling checkerboard with a bouncing white
// square, each picture stamped when it is due.
std::unique_ptr<Source> OpenTestPattern();

// A 440 Hz sine at -12 dBFS on both channels, 48 kHz s16, in pieces of 20 ms.
std::unique_ptr<Source> OpenTestTone();

}  // namespace Vantor::Lumo::Recorder
