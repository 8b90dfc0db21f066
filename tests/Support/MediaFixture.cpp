#include "tests/Support/MediaFixture.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <stdexcept>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

namespace Vantor::Testing {

namespace {

constexpr AVRational kPacketClock{1, 25};
constexpr int kAudioBytes = 48000 / 25 * 2;  // a packet of mono 16-bit samples
constexpr int kLargeSide = 1024;             // 1 MiB of gray pixels

void Check(int error, const std::string& path, const char* step) {
    if (error < 0) {
        throw std::runtime_error("cannot write Matroska file '" + path + "': " + step +
                                 " failed with FFmpeg error " + std::to_string(error));
    }
}

// Returns the bytes of one packet of the stream.
int SetUp(AVCodecParameters& codec, MediaType type, int frameSide) {
    if (type == MediaType::Video) {
        codec.codec_type = AVMEDIA_TYPE_VIDEO;
        codec.codec_id = AV_CODEC_ID_RAWVIDEO;
        codec.format = AV_PIX_FMT_GRAY8;
        codec.codec_tag = avcodec_pix_fmt_to_codec_tag(AV_PIX_FMT_GRAY8);
        codec.width = codec.height = frameSide;
        return frameSide * frameSide;
    }
    if (type == MediaType::Audio) {
        codec.codec_type = AVMEDIA_TYPE_AUDIO;
        codec.codec_id = AV_CODEC_ID_PCM_S16LE;
        codec.format = AV_SAMPLE_FMT_S16;
        codec.sample_rate = 48000;
        av_channel_layout_default(&codec.ch_layout, 1);
        return kAudioBytes;
    }
    if (type == MediaType::Subtitle) {
        codec.codec_type = AVMEDIA_TYPE_SUBTITLE;
        codec.codec_id = AV_CODEC_ID_SUBRIP;
        return 4;
    }
    throw std::invalid_argument("no Matroska test file holds media type " +
                                std::to_string(static_cast<int>(type)));
}

void Write(const std::string& path, const std::vector<MediaType>& streams,
           const std::optional<std::string>& vantorMetadata, int frameSide,
           std::int64_t packetsPerStream) {
    if (streams.empty()) {
        throw std::invalid_argument("a Matroska test file needs a stream: '" + path + "'");
    }
    AVFormatContext* raw = nullptr;
    Check(avformat_alloc_output_context2(&raw, nullptr, "matroska", path.c_str()), path, "setup");
    const auto free = [](AVFormatContext* context) {
        avio_closep(&context->pb);
        avformat_free_context(context);
    };
    std::unique_ptr<AVFormatContext, decltype(free)> output(raw, free);
    output->flags |= AVFMT_FLAG_BITEXACT;  // no writer version, no random identifiers
    std::vector<int> packetBytes;
    for (MediaType type : streams) {
        AVStream* stream = avformat_new_stream(output.get(), nullptr);
        if (!stream) {
            throw std::bad_alloc();
        }
        stream->time_base = kPacketClock;
        packetBytes.push_back(SetUp(*stream->codecpar, type, frameSide));
    }
    if (vantorMetadata) {
        av_dict_set(&output->metadata, "VANTOR_SPECIFIC_METADATA", vantorMetadata->c_str(), 0);
    }
    // "file:" keeps names with a colon from being taken for another protocol.
    Check(avio_open(&output->pb, ("file:" + path).c_str(), AVIO_FLAG_WRITE), path, "opening");
    Check(avformat_write_header(output.get(), nullptr), path, "writing the header");
    const auto release = [](AVPacket* packet) { av_packet_free(&packet); };
    std::unique_ptr<AVPacket, decltype(release)> packet(av_packet_alloc(), release);
    for (std::int64_t number = 0; number < packetsPerStream; ++number) {
        for (unsigned index = 0; index < output->nb_streams; ++index) {
            const AVRational timeBase = output->streams[index]->time_base;
            Check(av_new_packet(packet.get(), packetBytes[index]), path, "allocating");
            std::memset(packet->data, 'a', packetBytes[index]);
            packet->stream_index = static_cast<int>(index);
            packet->pts = packet->dts = av_rescale_q(number, kPacketClock, timeBase);
            packet->duration = av_rescale_q(1, kPacketClock, timeBase);
            packet->flags |= AV_PKT_FLAG_KEY;
            Check(av_interleaved_write_frame(output.get(), packet.get()), path, "writing");
        }
    }
    Check(av_write_trailer(output.get()), path, "writing the trailer");
    Check(avio_closep(&output->pb), path, "closing");
}

}  // namespace

void WriteMatroska(const std::string& path, const std::vector<MediaType>& streams,
                   const std::optional<std::string>& vantorMetadata, int packetsPerStream) {
    Write(path, streams, vantorMetadata, 16, packetsPerStream);
}

void WriteLargeMatroska(const std::string& path, const std::vector<MediaType>& streams,
                        const std::optional<std::string>& vantorMetadata,
                        std::int64_t minimumBytes) {
    std::int64_t bytesPerRound = 1;
    for (MediaType type : streams) {
        bytesPerRound += type == MediaType::Video ? kLargeSide * kLargeSide : kAudioBytes;
    }
    Write(path, streams, vantorMetadata, kLargeSide, minimumBytes / bytesPerRound + 1);
}

}  // namespace Vantor::Testing
