#include "Recorder/Encode/VideoEncoder.h"

#include <stdexcept>
#include <string>

extern "C" {
#include <libavutil/opt.h>
}

namespace Vantor::Lumo::Recorder {

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

void VideoEncoder::Flush(const PacketSink& sink) {
    EncodeFrame(*encoder_, nullptr, sink, "the screen");
}

}  // namespace Vantor::Lumo::Recorder
