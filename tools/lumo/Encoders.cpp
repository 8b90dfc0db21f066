#include "tools/lumo/Encoders.h"

#include <algorithm>
#include <functional>
#include <initializer_list>

#include <glog/logging.h>

namespace Vantor::Lumo::Tool {

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr int kFramesPerSecond = 25;
constexpr int kSampleRate = 48000;
constexpr int kSamplesPerFrameIfFree = 1024;  // for encoders that take any frame size

template <class T>
bool Lists(const T* values, T terminator, T wanted) {
    for (; values && *values != terminator; ++values) {
        if (*values == wanted) {
            return true;
        }
    }
    return false;
}

// The first of `names` that this libavcodec has and that `configure` accepts and opens.
CodecContextPtr OpenFirst(std::initializer_list<const char*> names, bool globalHeader,
                          const std::function<bool(const AVCodec&, AVCodecContext&)>& configure,
                          const char* kind) {
    for (const char* name : names) {
        const AVCodec* codec = avcodec_find_encoder_by_name(name);
        if (!codec) {
            continue;
        }
        CodecContextPtr context(avcodec_alloc_context3(codec));
        if (!context) {
            throw std::bad_alloc();
        }
        if (globalHeader) {
            context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        }
        if (configure(*codec, *context) && avcodec_open2(context.get(), codec, nullptr) >= 0) {
            LOG(INFO) << "lumo: " << kind << " encoder " << name;
            return context;
        }
    }
    throw std::runtime_error(std::string("no usable ") + kind + " encoder in this libavcodec");
}

}  // namespace

CodecContextPtr OpenVideoEncoder(bool globalHeader) {
    return OpenFirst(
        {"mpeg4", "ffv1", "libx264"}, globalHeader,
        [](const AVCodec& codec, AVCodecContext& context) {
            if (!Lists(codec.pix_fmts, AV_PIX_FMT_NONE, AV_PIX_FMT_YUV420P)) {
                return false;
            }
            context.pix_fmt = AV_PIX_FMT_YUV420P;
            context.width = kWidth;
            context.height = kHeight;
            context.time_base = {1, kFramesPerSecond};
            context.framerate = {kFramesPerSecond, 1};
            context.gop_size = kFramesPerSecond;
            context.bit_rate = 1'000'000;
            return true;
        },
        "video");
}

CodecContextPtr OpenAudioEncoder(bool globalHeader) {
    return OpenFirst(
        {"flac", "aac", "pcm_s16le"}, globalHeader,
        [](const AVCodec& codec, AVCodecContext& context) {
            if (codec.supported_samplerates &&
                !Lists(codec.supported_samplerates, 0, kSampleRate)) {
                return false;
            }
            // The tone generator writes these; with one channel planar equals packed.
            const auto usable = [](AVSampleFormat format) {
                const AVSampleFormat packed = av_get_packed_sample_fmt(format);
                return packed == AV_SAMPLE_FMT_S16 || packed == AV_SAMPLE_FMT_S32 ||
                       packed == AV_SAMPLE_FMT_FLT;
            };
            const AVSampleFormat* format = codec.sample_fmts;
            while (format && *format != AV_SAMPLE_FMT_NONE && !usable(*format)) {
                ++format;
            }
            if (!format || *format == AV_SAMPLE_FMT_NONE) {
                return false;
            }
            context.sample_fmt = *format;
            context.sample_rate = kSampleRate;
            context.time_base = {1, kSampleRate};
            context.bit_rate = 128'000;
            av_channel_layout_default(&context.ch_layout, 1);
            return true;
        },
        "audio");
}

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

}  // namespace Vantor::Lumo::Tool
