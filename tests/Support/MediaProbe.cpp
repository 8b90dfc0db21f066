#include "tests/Support/MediaProbe.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
}

namespace Vantor::Testing {

namespace {

std::string ErrorText(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

void Check(int error, const std::string& path, const char* step) {
    if (error < 0) {
        throw std::runtime_error("cannot read '" + path + "': " + step + ": " + ErrorText(error));
    }
}

struct InputDeleter {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct CodecDeleter {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct PacketDeleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct FrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
using Input = std::unique_ptr<AVFormatContext, InputDeleter>;

Input Open(const std::string& path) {
    AVFormatContext* raw = nullptr;
    // "file:" keeps a name with a colon from being taken for another protocol.
    Check(avformat_open_input(&raw, ("file:" + path).c_str(), nullptr, nullptr), path, "opening");
    Input input(raw);
    Check(avformat_find_stream_info(input.get(), nullptr), path, "finding the streams");
    return input;
}

MediaType TypeOf(AVMediaType type) {
    switch (type) {
        case AVMEDIA_TYPE_VIDEO:
            return MediaType::Video;
        case AVMEDIA_TYPE_AUDIO:
            return MediaType::Audio;
        case AVMEDIA_TYPE_SUBTITLE:
            return MediaType::Subtitle;
        case AVMEDIA_TYPE_DATA:
            return MediaType::Data;
        case AVMEDIA_TYPE_ATTACHMENT:
            return MediaType::Attachment;
        default:
            return MediaType::None;
    }
}

// Decodes the first stream of `type`, handing each frame and its time from the stream's start
// to `take` until it answers false. A file cut short ends at its last readable packet.
void Decode(const std::string& path, AVMediaType type,
            const std::function<bool(const AVFrame&, double)>& take) {
    Input input = Open(path);
    const int index = av_find_best_stream(input.get(), type, -1, -1, nullptr, 0);
    Check(index, path, "finding the stream to decode");
    const AVStream* stream = input->streams[index];
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec) {
        throw std::runtime_error("cannot read '" + path + "': no decoder for " +
                                 avcodec_get_name(stream->codecpar->codec_id));
    }
    std::unique_ptr<AVCodecContext, CodecDeleter> decoder(avcodec_alloc_context3(codec));
    Check(avcodec_parameters_to_context(decoder.get(), stream->codecpar), path, "decoder set-up");
    decoder->pkt_timebase = stream->time_base;
    Check(avcodec_open2(decoder.get(), codec, nullptr), path, "opening the decoder");

    std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
    std::unique_ptr<AVFrame, FrameDeleter> frame(av_frame_alloc());
    std::optional<std::int64_t> start;
    if (stream->start_time != AV_NOPTS_VALUE) {
        start = stream->start_time;
    }
    // Answers false once `take` is done.
    const auto drain = [&]() {
        while (avcodec_receive_frame(decoder.get(), frame.get()) >= 0) {
            const std::int64_t pts = frame->best_effort_timestamp;
            if (pts != AV_NOPTS_VALUE && !start) {
                start = pts;
            }
            const double seconds =
                pts == AV_NOPTS_VALUE ? 0.0 : (pts - *start) * av_q2d(stream->time_base);
            const bool more = take(*frame, seconds);
            av_frame_unref(frame.get());
            if (!more) {
                return false;
            }
        }
        return true;
    };
    while (av_read_frame(input.get(), packet.get()) >= 0) {
        if (packet->stream_index != index) {
            av_packet_unref(packet.get());
            continue;
        }
        const int sent = avcodec_send_packet(decoder.get(), packet.get());
        av_packet_unref(packet.get());
        if (sent < 0 && sent != AVERROR(EAGAIN)) {
            continue;  // a damaged packet, as at the end of a file cut short
        }
        if (!drain()) {
            return;
        }
    }
    avcodec_send_packet(decoder.get(), nullptr);
    drain();
}

double PlaneMean(const AVFrame& frame, int plane, int width, int height) {
    double sum = 0.0;
    for (int row = 0; row < height; ++row) {
        const std::uint8_t* line =
            frame.data[plane] + static_cast<std::ptrdiff_t>(row) * frame.linesize[plane];
        for (int column = 0; column < width; ++column) {
            sum += line[column];
        }
    }
    return sum / (static_cast<double>(width) * height);
}

Colour ToRgb(const AVFrame& frame, double y, double u, double v) {
    const auto format = static_cast<AVPixelFormat>(frame.format);
    const bool full = frame.color_range == AVCOL_RANGE_JPEG || format == AV_PIX_FMT_YUVJ420P ||
                      format == AV_PIX_FMT_YUVJ422P || format == AV_PIX_FMT_YUVJ444P;
    const bool hd = frame.colorspace == AVCOL_SPC_BT709;
    const double kr = hd ? 0.2126 : 0.299;
    const double kb = hd ? 0.0722 : 0.114;
    const double luma = full ? y / 255.0 : (y - 16.0) / 219.0;
    const double pb = (u - 128.0) / (full ? 255.0 : 224.0);
    const double pr = (v - 128.0) / (full ? 255.0 : 224.0);
    const double red = luma + 2.0 * (1.0 - kr) * pr;
    const double blue = luma + 2.0 * (1.0 - kb) * pb;
    const double green = (luma - kr * red - kb * blue) / (1.0 - kr - kb);
    return Colour{red * 255.0, green * 255.0, blue * 255.0};
}

float SampleAt(const AVFrame& frame, int index) {
    const auto format = static_cast<AVSampleFormat>(frame.format);
    const bool planar = av_sample_fmt_is_planar(format);
    const int position = planar ? index : index * frame.ch_layout.nb_channels;
    const std::uint8_t* data = frame.extended_data[0];
    switch (av_get_packed_sample_fmt(format)) {
        case AV_SAMPLE_FMT_U8:
            return (data[position] - 128) / 128.0f;
        case AV_SAMPLE_FMT_S16:
            return reinterpret_cast<const std::int16_t*>(data)[position] / 32768.0f;
        case AV_SAMPLE_FMT_S32:
            return static_cast<float>(reinterpret_cast<const std::int32_t*>(data)[position] /
                                      2147483648.0);
        case AV_SAMPLE_FMT_FLT:
            return reinterpret_cast<const float*>(data)[position];
        case AV_SAMPLE_FMT_DBL:
            return static_cast<float>(reinterpret_cast<const double*>(data)[position]);
        default:
            throw std::runtime_error(std::string("unexpected sample format ") +
                                     av_get_sample_fmt_name(format));
    }
}

}  // namespace

MediaSummary Summarise(const std::string& path) {
    Input input = Open(path);
    MediaSummary summary;
    if (input->duration != AV_NOPTS_VALUE &&
        input->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE) {
        summary.durationSeconds = input->duration / static_cast<double>(AV_TIME_BASE);
    }
    std::vector<std::int64_t> first(input->nb_streams, std::numeric_limits<std::int64_t>::max());
    std::vector<std::int64_t> last(input->nb_streams, std::numeric_limits<std::int64_t>::min());
    for (unsigned index = 0; index < input->nb_streams; ++index) {
        const AVCodecParameters& codec = *input->streams[index]->codecpar;
        StreamSummary stream;
        stream.type = TypeOf(codec.codec_type);
        stream.codec = avcodec_get_name(codec.codec_id);
        stream.width = codec.width;
        stream.height = codec.height;
        stream.sampleRate = codec.sample_rate;
        summary.streams.push_back(stream);
    }
    std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
    while (av_read_frame(input.get(), packet.get()) >= 0) {
        const auto index = static_cast<std::size_t>(packet->stream_index);
        const std::int64_t time = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        if (index < summary.streams.size() && time != AV_NOPTS_VALUE) {
            ++summary.streams[index].packets;
            first[index] = std::min(first[index], time);
            last[index] = std::max(last[index], time + packet->duration);
        }
        av_packet_unref(packet.get());
    }
    for (std::size_t index = 0; index < summary.streams.size(); ++index) {
        if (summary.streams[index].packets > 0) {
            const double unit = av_q2d(input->streams[index]->time_base);
            summary.streams[index].startSeconds = first[index] * unit;
            summary.streams[index].endSeconds = last[index] * unit;
        }
    }
    return summary;
}

Colour MeanColourAt(const std::string& path, double seconds) {
    std::optional<Colour> colour;
    Decode(path, AVMEDIA_TYPE_VIDEO, [&](const AVFrame& frame, double time) {
        if (time + 1e-6 < seconds) {
            return true;
        }
        const AVPixFmtDescriptor* format =
            av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame.format));
        if (!format || (format->flags & AV_PIX_FMT_FLAG_RGB) ||
            !(format->flags & AV_PIX_FMT_FLAG_PLANAR) || format->nb_components != 3 ||
            format->comp[0].depth != 8) {
            throw std::runtime_error("'" + path + "': pictures in " +
                                     (format ? format->name : "an unknown format") +
                                     ", not planar 8-bit YUV");
        }
        const int chromaWidth = AV_CEIL_RSHIFT(frame.width, format->log2_chroma_w);
        const int chromaHeight = AV_CEIL_RSHIFT(frame.height, format->log2_chroma_h);
        colour = ToRgb(frame, PlaneMean(frame, 0, frame.width, frame.height),
                       PlaneMean(frame, 1, chromaWidth, chromaHeight),
                       PlaneMean(frame, 2, chromaWidth, chromaHeight));
        return false;
    });
    if (!colour) {
        throw std::runtime_error("'" + path + "' has no picture at " + std::to_string(seconds) +
                                 " s");
    }
    return *colour;
}

std::vector<Level> PictureLevels(const std::string& path) {
    std::vector<Level> levels;
    Decode(path, AVMEDIA_TYPE_VIDEO, [&](const AVFrame& frame, double time) {
        const double y = PlaneMean(frame, 0, frame.width, frame.height);
        levels.push_back({time, ToRgb(frame, y, 128.0, 128.0).green});
        return true;
    });
    return levels;
}

Sound SoundAt(const std::string& path, double fromSeconds, double seconds) {
    Sound sound;
    std::size_t wanted = 0;
    // Timestamps place the start; after it the samples are taken as they follow one another,
    // as a player plays them, so that jitter in the stamps neither drops nor repeats any.
    Decode(path, AVMEDIA_TYPE_AUDIO, [&](const AVFrame& frame, double time) {
        if (sound.sampleRate == 0) {
            sound.sampleRate = frame.sample_rate;
            wanted = static_cast<std::size_t>(seconds * frame.sample_rate);
        }
        for (int sample = 0; sample < frame.nb_samples && sound.samples.size() < wanted; ++sample) {
            if (!sound.samples.empty() ||
                time + static_cast<double>(sample) / frame.sample_rate >= fromSeconds) {
                sound.samples.push_back(SampleAt(frame, sample));
            }
        }
        return sound.samples.size() < wanted;
    });
    return sound;
}

double StrongestFrequency(const Sound& sound, double low, double high, double step) {
    if (sound.samples.empty() || sound.sampleRate <= 0 || step <= 0) {
        throw std::invalid_argument("no sound to look for a frequency in");
    }
    double best = low;
    double bestPower = -1.0;
    for (double frequency = low; frequency <= high + step / 2; frequency += step) {
        const double coefficient = 2.0 * std::cos(2.0 * M_PI * frequency / sound.sampleRate);
        double previous = 0.0;
        double beforePrevious = 0.0;
        for (const float sample : sound.samples) {
            const double current = sample + coefficient * previous - beforePrevious;
            beforePrevious = previous;
            previous = current;
        }
        const double power = previous * previous + beforePrevious * beforePrevious -
                             coefficient * previous * beforePrevious;
        if (power > bestPower) {
            bestPower = power;
            best = frequency;
        }
    }
    return best;
}

double Loudness(const Sound& sound) {
    double sum = 0.0;
    for (const float sample : sound.samples) {
        sum += static_cast<double>(sample) * sample;
    }
    return sound.samples.empty() ? 0.0 : std::sqrt(sum / sound.samples.size());
}

Silence LongestSilence(const Sound& sound, float threshold) {
    std::size_t longest = 0;
    std::size_t longestEnd = 0;
    std::size_t run = 0;
    for (std::size_t index = 0; index < sound.samples.size(); ++index) {
        run = std::fabs(sound.samples[index]) < threshold ? run + 1 : 0;
        if (run > longest) {
            longest = run;
            longestEnd = index + 1;
        }
    }
    if (sound.sampleRate <= 0) {
        return {};
    }
    const double rate = sound.sampleRate;
    return Silence{static_cast<double>(longestEnd - longest) / rate,
                   static_cast<double>(longest) / rate};
}

}  // namespace Vantor::Testing
