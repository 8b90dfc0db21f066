#pragma once

#include <cstdint>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

#include "tools/lumo/Encoders.h"
#include "tools/lumo/Ffmpeg.h"

namespace Vantor::Lumo::Tool {

// Captured screen pictures to the frames the encoder takes: 4:2:0 of the encoder's size.
class PictureConverter {
public:
    explicit PictureConverter(const AVCodecContext& encoder);
    ~PictureConverter();
    PictureConverter(const PictureConverter&) = delete;
    PictureConverter& operator=(const PictureConverter&) = delete;

    // `picture` is a raw packet in `format`'s size and pixel format, at least as large as the
    // encoder's pictures. Throws std::runtime_error when it is not.
    FramePtr Convert(const AVPacket& picture, const AVCodecParameters& format);

private:
    int width_;
    int height_;
    AVPixelFormat target_;
    SwsContext* scaler_ = nullptr;
};

// Screen pictures to H.264: libx264 with the "veryfast" preset and otherwise the defaults the
// ffmpeg program uses, 4:2:0, one tick of the time base a picture.
class VideoEncoder {
public:
    // `width` and `height` must be even. Throws std::runtime_error when libx264 is missing or
    // refuses the size.
    VideoEncoder(int width, int height, int fps, bool globalHeader);

    const AVCodecContext& Context() const { return *encoder_; }
    // Encodes `frame` (from a PictureConverter) as picture number `pts`.
    void Encode(AVFrame& frame, std::int64_t pts, const PacketSink& sink);
    // Hands out the pictures the encoder still holds.
    void Flush(const PacketSink& sink);

private:
    CodecContextPtr encoder_;
};

}  // namespace Vantor::Lumo::Tool
