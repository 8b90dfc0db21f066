#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

#include "Recorder/Ffmpeg.h"

namespace Vantor::Lumo::Recorder {

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

}  // namespace Vantor::Lumo::Recorder
