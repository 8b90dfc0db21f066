#pragma once

#include <cstdint>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "Recorder/Encode/EncodeFrame.h"
#include "Recorder/Ffmpeg.h"

namespace Vantor::Lumo::Recorder {

// Screen pictures to H.264: libx264 with the "veryfast" preset and otherwise the defaults the
// ffmpeg program uses, 4:2:0, one tick of the time base a picture.
class VideoEncoder {
public:
    // `width` and `height` must be even. Throws std::runtime_error when libx264 is missing or
    // refuses the size.
    VideoEncoder(int width, int height, int fps, bool globalHeader);

    const AVCodecContext& Context() const { return *encoder_; }
    // Encodes `frame` (from a PictureConverter) as picture number `pts`. Throws
    // std::runtime_error when encoding fails.
    void Encode(AVFrame& frame, std::int64_t pts, const PacketSink& sink);
    // Hands out the pictures the encoder still holds.
    void Flush(const PacketSink& sink);

private:
    CodecContextPtr encoder_;
};

}  // namespace Vantor::Lumo::Recorder
