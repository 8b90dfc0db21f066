#include "tools/lumo/VideoEncoder.h"

#include <stdexcept>
#include <string>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
}

namespace Vantor::Lumo::Tool {

VideoEncoder::VideoEncoder(int width, int height, int fps, bool globalHeader) {
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec) {
        throw std::runtime_error("this libavcodec has no libx264 encoder");
    }
    encoder_.reset(avcodec_alloc_context3(codec));
    if (!encoder_) {
        throw std::bad_alloc();
    }
    encoder_->width = width;
    encoder_->height = height;
    encoder_->pix_fmt = AV_PIX_FMT_YUV420P;
    encoder_->time_base = {1, fps};
    encoder_->framerate = {fps, 1};
    // As many threads as x264 finds useful, like the ffmpeg program asks for.
    encoder_->thread_count = 0;
    if (globalHeader) {
        encoder_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    AVDictionary* options = nullptr;
    av_dict_set(&options, "preset", "veryfast", 0);
    const int opened = avcodec_open2(encoder_.get(), codec, &options);
    av_dict_free(&options);
    CheckFfmpeg(opened,
                "can not open libx264 for " + std::to_string(width) + "x" + std::to_string(height));
}

void VideoEncoder::Encode(AVFrame& frame, std::int64_t pts, const PacketSink& sink) {
    frame.pts = pts;
    EncodeFrame(*encoder_, &frame, sink, "the screen");
}

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

void VideoEncoder::Flush(const PacketSink& sink) {
    EncodeFrame(*encoder_, nullptr, sink, "the screen");
}

}  // namespace Vantor::Lumo::Tool
