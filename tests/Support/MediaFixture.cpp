#include "tests/Support/MediaFixture.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <stdexcept>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

namespace Vantor::Testing {

namespace {

// One packet every 40 ms on every track, so the tracks stay side by side.
constexpr AVRational kPacketClock{1, 25};
constexpr int kAudioRate = 48000;
constexpr int kAudioBytesPerPacket = kAudioRate / 25 * 2;  // mono 16-bit
constexpr int kSmallFrameSide = 16;
constexpr int kLargeFrameSide = 1024;  // 1 MiB of gray pixels

struct Layout {
    int frameSide;
    std::int64_t packetsPerStream;
};

struct FreeOutput {
    void operator()(AVFormatContext* context) const {
        avio_closep(&context->pb);
        avformat_free_context(context);
    }
};
using OutputPtr = std::unique_ptr<AVFormatContext, FreeOutput>;

struct FreePacket {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};

void Check(int error, const std::string& path, const char* step) {
    if (error >= 0) {
        return;
    }
    char reason[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, reason, sizeof reason);
    throw std::runtime_error("cannot write Matroska file '" + path + "': " + step + ": " + reason);
}

void AddStream(AVFormatContext& output, Vantor::MediaType type, const Layout& layout,
               const std::string& path) {
    AVStream* stream = avformat_new_stream(&output, nullptr);
    if (!stream) {
        Check(AVERROR(ENOMEM), path, "adding a stream");
    }
    stream->time_base = kPacketClock;
    AVCodecParameters& parameters = *stream->codecpar;
    switch (type) {
        case Vantor::MediaType::Video:
            parameters.codec_type = AVMEDIA_TYPE_VIDEO;
            parameters.codec_id = AV_CODEC_ID_RAWVIDEO;
            parameters.format = AV_PIX_FMT_GRAY8;
            parameters.codec_tag = avcodec_pix_fmt_to_codec_tag(AV_PIX_FMT_GRAY8);
            parameters.width = layout.frameSide;
            parameters.height = layout.frameSide;
            break;
        case Vantor::MediaType::Audio:
            parameters.codec_type = AVMEDIA_TYPE_AUDIO;
            parameters.codec_id = AV_CODEC_ID_PCM_S16LE;
            parameters.format = AV_SAMPLE_FMT_S16;
            parameters.sample_rate = kAudioRate;
            av_channel_layout_default(&parameters.ch_layout, 1);
            break;
        case Vantor::MediaType::Subtitle:
            parameters.codec_type = AVMEDIA_TYPE_SUBTITLE;
            parameters.codec_id = AV_CODEC_ID_SUBRIP;
            break;
        case Vantor::MediaType::Attachment: {
            static const char kContent[] = "attachment of a test recording";
            parameters.codec_type = AVMEDIA_TYPE_ATTACHMENT;
            parameters.codec_id = AV_CODEC_ID_BIN_DATA;
            parameters.extradata = static_cast<std::uint8_t*>(
                av_mallocz(sizeof kContent + AV_INPUT_BUFFER_PADDING_SIZE));
            if (!parameters.extradata) {
                Check(AVERROR(ENOMEM), path, "adding an attachment");
            }
            std::memcpy(parameters.extradata, kContent, sizeof kContent);
            parameters.extradata_size = sizeof kContent;
            const std::string name = "attachment" + std::to_string(stream->index) + ".bin";
            av_dict_set(&stream->metadata, "filename", name.c_str(), 0);
            av_dict_set(&stream->metadata, "mimetype", "application/octet-stream", 0);
            break;
        }
        default:
            throw std::invalid_argument(
                "a Matroska test file can not hold a stream of media type " +
                std::to_string(static_cast<int>(type)));
    }
}

int PacketSize(const AVCodecParameters& parameters, std::int64_t number) {
    switch (parameters.codec_type) {
        case AVMEDIA_TYPE_VIDEO:
            return parameters.width * parameters.height;
        case AVMEDIA_TYPE_AUDIO:
            return kAudioBytesPerPacket;
        default:
            return static_cast<int>(("cue " + std::to_string(number)).size());
    }
}

void WritePackets(AVFormatContext& output, const Layout& layout, const std::string& path) {
    std::unique_ptr<AVPacket, FreePacket> packet(av_packet_alloc());
    if (!packet) {
        Check(AVERROR(ENOMEM), path, "allocating a packet");
    }
    for (std::int64_t number = 0; number < layout.packetsPerStream; ++number) {
        for (unsigned index = 0; index < output.nb_streams; ++index) {
            const AVStream& stream = *output.streams[index];
            const AVCodecParameters& parameters = *stream.codecpar;
            if (parameters.codec_type == AVMEDIA_TYPE_ATTACHMENT) {
                continue;  // stored whole in the header, no packets
            }
            const int size = PacketSize(parameters, number);
            Check(av_new_packet(packet.get(), size), path, "allocating a packet");
            if (parameters.codec_type == AVMEDIA_TYPE_SUBTITLE) {
                std::memcpy(packet->data, ("cue " + std::to_string(number)).data(), size);
            } else {
                std::memset(packet->data, static_cast<int>(number & 0xff), size);
            }
            packet->stream_index = static_cast<int>(index);
            packet->pts = av_rescale_q(number, kPacketClock, stream.time_base);
            packet->dts = packet->pts;
            packet->duration = av_rescale_q(1, kPacketClock, stream.time_base);
            packet->flags |= AV_PKT_FLAG_KEY;
            // Takes the packet's data and leaves it blank for the next one.
            Check(av_interleaved_write_frame(&output, packet.get()), path, "writing a packet");
        }
    }
}

void Write(const std::string& path, const std::vector<Vantor::MediaType>& streams,
           const std::optional<std::string>& vantorMetadata, const Layout& layout) {
    if (streams.empty() || layout.packetsPerStream < 0) {
        throw std::invalid_argument(
            "a Matroska test file needs a stream and a packet count of 0 "
            "or more: '" +
            path + "'");
    }
    AVFormatContext* raw = nullptr;
    Check(avformat_alloc_output_context2(&raw, nullptr, "matroska", path.c_str()), path,
          "choosing the muxer");
    OutputPtr output(raw);
    output->flags |= AVFMT_FLAG_BITEXACT;  // no writer version, no random identifiers

    for (Vantor::MediaType type : streams) {
        AddStream(*output, type, layout, path);
    }
    if (vantorMetadata) {
        av_dict_set(&output->metadata, "VANTOR_SPECIFIC_METADATA", vantorMetadata->c_str(), 0);
    }

    // "file:" keeps names with a colon from being taken for another protocol.
    Check(avio_open(&output->pb, ("file:" + path).c_str(), AVIO_FLAG_WRITE), path, "opening");
    Check(avformat_write_header(output.get(), nullptr), path, "writing the header");
    WritePackets(*output, layout, path);
    Check(av_write_trailer(output.get()), path, "writing the trailer");
    Check(avio_closep(&output->pb), path, "closing");
}

}  // namespace

void WriteMatroska(const std::string& path, const std::vector<Vantor::MediaType>& streams,
                   const std::optional<std::string>& vantorMetadata, int packetsPerStream) {
    Write(path, streams, vantorMetadata, Layout{kSmallFrameSide, packetsPerStream});
}

void WriteLargeMatroska(const std::string& path, const std::vector<Vantor::MediaType>& streams,
                        const std::optional<std::string>& vantorMetadata,
                        std::int64_t minimumBytes) {
    std::int64_t bytesPerRound = 0;
    for (Vantor::MediaType type : streams) {
        if (type == Vantor::MediaType::Video) {
            bytesPerRound += std::int64_t{kLargeFrameSide} * kLargeFrameSide;
        } else if (type == Vantor::MediaType::Audio) {
            bytesPerRound += kAudioBytesPerPacket;
        } else if (type == Vantor::MediaType::Subtitle) {
            bytesPerRound += 8;
        }
    }
    const std::int64_t rounds =
        bytesPerRound == 0
            ? 1
            : std::max<std::int64_t>(1, (minimumBytes + bytesPerRound - 1) / bytesPerRound);
    Write(path, streams, vantorMetadata, Layout{kLargeFrameSide, rounds});
}

}  // namespace Vantor::Testing
