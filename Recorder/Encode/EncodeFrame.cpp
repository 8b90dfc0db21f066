#include "Recorder/Encode/EncodeFrame.h"

namespace Vantor::Lumo::Recorder {

namespace {

constexpr int kSamplesPerFrameIfFree = 1024;  // for encoders that take any frame size

}  // namespace

FramePtr AllocateFrame(const AVCodecContext& encoder) {
    FramePtr frame(av_frame_alloc());
    if (!frame) {
        throw std::bad_alloc();
    }
    if (encoder.codec_type == AVMEDIA_TYPE_VIDEO) {
        frame->format = encoder.pix_fmt;
        frame->width = encoder.width;
        frame->height = encoder.height;
    } else {
        frame->format = encoder.sample_fmt;
        frame->sample_rate = encoder.sample_rate;
        frame->nb_samples = encoder.frame_size > 0 ? encoder.frame_size : kSamplesPerFrameIfFree;
        CheckFfmpeg(av_channel_layout_copy(&frame->ch_layout, &encoder.ch_layout),
                    "can not set up an audio frame");
    }
    CheckFfmpeg(av_frame_get_buffer(frame.get(), 0), "can not allocate a frame");
    return frame;
}

void EncodeFrame(AVCodecContext& encoder, const AVFrame* frame, const PacketSink& sink,
                 const std::string& what) {
    CheckFfmpeg(avcodec_send_frame(&encoder, frame), "can not encode " + what);
    PacketPtr packet(av_packet_alloc());
    if (!packet) {
        throw std::bad_alloc();
    }
    for (;;) {
        const int result = avcodec_receive_packet(&encoder, packet.get());
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) {
            return;
        }
        CheckFfmpeg(result, "can not encode " + what);
        sink(*packet);
        av_packet_unref(packet.get());
    }
}

}  // namespace Vantor::Lumo::Recorder
