#include "Recorder/Encode/PictureConverter.h"

#include <string>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

namespace Vantor::Lumo::Recorder {

PictureConverter::PictureConverter(const AVCodecContext& encoder)
    : width_(encoder.width), height_(encoder.height), target_(encoder.pix_fmt) {}

PictureConverter::~PictureConverter() {
    sws_freeContext(scaler_);
}

FramePtr PictureConverter::Convert(const AVPacket& picture, const AVCodecParameters& format) {
    const auto pixels = static_cast<AVPixelFormat>(format.format);
    if (format.width < width_ || format.height < height_ ||
        picture.size < av_image_get_buffer_size(pixels, format.width, format.height, 1)) {
        throw std::runtime_error("the screen changed its size while being recorded");
    }
    std::uint8_t* planes[4] = {};
    int strides[4] = {};
    CheckFfmpeg(
        av_image_fill_arrays(planes, strides, picture.data, pixels, format.width, format.height, 1),
        "can not read a captured picture");
    // Same size in and out: a plain conversion, with the flags ffmpeg's scale filter uses.
    // A screen of odd size loses its last row or column here.
    scaler_ = sws_getCachedContext(scaler_, width_, height_, pixels, width_, height_, target_,
                                   SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!scaler_) {
        throw std::runtime_error("can not convert pictures from " +
                                 std::string(av_get_pix_fmt_name(pixels)));
    }
    FramePtr frame(av_frame_alloc());
    if (!frame) {
        throw std::bad_alloc();
    }
    frame->format = target_;
    frame->width = width_;
    frame->height = height_;
    CheckFfmpeg(av_frame_get_buffer(frame.get(), 0), "can not allocate a picture");
    sws_scale(scaler_, planes, strides, 0, height_, frame->data, frame->linesize);
    return frame;
}

}  // namespace Vantor::Lumo::Recorder
