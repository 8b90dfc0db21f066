#pragma once

// What the recorder records: a picture that visibly moves and a steady tone.

#include <cstdint>

extern "C" {
#include <libavutil/frame.h>
}

namespace Vantor::Lumo::Tool {

// Fills a YUV 4:2:0 planar frame with picture number `frameNumber` of a scrolling
// checkerboard with a bouncing white square.
void FillTestPattern(AVFrame& frame, std::int64_t frameNumber);

// Fills a mono frame (any of the 16-bit, 32-bit or float sample formats, packed or planar)
// with a 440 Hz sine starting at sample `firstSample`.
void FillTone(AVFrame& frame, std::int64_t firstSample);

}  // namespace Vantor::Lumo::Tool
