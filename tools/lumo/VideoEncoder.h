#pragma once

#include <cstdint>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

#include "tools/lumo/Encoders.h"
#include "tools/lumo/Ffmpeg.h"

namespace Vantor::Lumo::Tool {

// Screen pictures to H.264: libx264 with the "veryfast" preset and otherwise the defaults the
// ffmpeg program uses, 4:2:0, one tick of the time base a picture.
class VideoEncoder {
public:
    // `width` and `height` must be even. Throws std::runtime_error when libx264 is missing or
    // refuses the size.
    VideoEncoder(int width, int height, int fps, bool globalHeader);
    ~VideoEncoder();
    VideoEncoder(const VideoEncoder&) = delete;
    VideoEncoder& operator=(const VideoEncoder&) = delete;

    const AVCodecContext& Context() const { return *encoder_; }
    // Converts a captured picture (a raw packet in `format`'s size and pixel format, at least
    // as large as the encoder's) and encodes it as picture number `pts`.
    void Encode(const AVPacket& picture, const AVCodecParameters& format, std::int64_t pts,
                const PacketSink& sink);
    // Hands out the pictures the encoder still holds.
    void Flush(const PacketSink& sink);

private:
    CodecContextPtr encoder_;
    FramePtr frame_;
    SwsContext* scaler_ = nullptr;
};

}  // namespace Vantor::Lumo::Tool
