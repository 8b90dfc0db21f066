#include "Platform/Reelkit/FfmpegStreamReader.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <boost/throw_exception.hpp>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

#include "Platform/Plinth/RefCountable.h"
#include "Platform/Reelkit/FileInput.h"
#include "Platform/Reelkit/NamedDemuxer.h"

namespace Vantor::Proc {

namespace {

// ---- values handed out ------------------------------------------------------------------

class FfmpegStream final : public IStream, public RefCounted {
public:
    FfmpegStream(std::uint32_t index, MediaType type) : index_(index), type_(type) {}

    std::uint32_t GetIndex() const override { return index_; }
    MediaType GetMediaType() const override { return type_; }

private:
    ~FfmpegStream() override = default;

    std::uint32_t index_;
    MediaType type_;
};

class FfmpegFormatFile final : public Conf::IFormatFile, public RefCounted {
public:
    explicit FfmpegFormatFile(std::optional<std::string> vantorMetadata)
        : vantorMetadata_(std::move(vantorMetadata)) {}

    bool ExistsVantorSpecificMetadata() const override { return vantorMetadata_.has_value(); }
    std::string GetVantorSpecificMetadata() const override {
        return vantorMetadata_.value_or(std::string());
    }

private:
    ~FfmpegFormatFile() override = default;

    std::optional<std::string> vantorMetadata_;
};

class FfmpegStreamReader final : public IStreamReader, public RefCounted {
public:
    FfmpegStreamReader(ioPath path, boost::intrusive_ptr<Conf::IFormatFile> formatFile,
                       std::vector<boost::intrusive_ptr<IStream>> streams,
                       std::int64_t durationMicroseconds)
        : path_(std::move(path)),
          formatFile_(std::move(formatFile)),
          streams_(std::move(streams)),
          durationMicroseconds_(durationMicroseconds) {}

    ioPath GetPath() const override { return path_; }
    boost::intrusive_ptr<Conf::IFormatFile> GetFormatFile() const override { return formatFile_; }
    std::uint32_t GetStreamCount() const override {
        return static_cast<std::uint32_t>(streams_.size());
    }
    std::int64_t GetDurationMicroseconds() const override { return durationMicroseconds_; }
    boost::intrusive_ptr<IStream> GetStream(std::uint32_t index) const override {
        if (index >= streams_.size()) {
            BOOST_THROW_EXCEPTION(std::out_of_range(
                "stream " + std::to_string(index) + " requested from '" + path_.utf8string() +
                "', which has " + std::to_string(streams_.size()) + " streams"));
        }
        return streams_[index];
    }

private:
    ~FfmpegStreamReader() override = default;

    ioPath path_;
    boost::intrusive_ptr<Conf::IFormatFile> formatFile_;
    std::vector<boost::intrusive_ptr<IStream>> streams_;
    std::int64_t durationMicroseconds_;
};

// ---- opening ------------------------------------------------------------------------------

struct CloseFormatContext {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
using FormatContextPtr = std::unique_ptr<AVFormatContext, CloseFormatContext>;

std::string OpenFailure(const std::string& location, const std::string& reason) {
    return "can not open media file '" + location + "': " + reason;
}

std::string OpenFailure(const std::string& location, int error) {
    return OpenFailure(location, FfmpegErrorText(error));
}

// One attempt to read the header from `io` with `demuxer`, or with probing when it is null.
FormatContextPtr OpenDemuxer(const std::string& location, AVIOContext* io,
                             const AVInputFormat* demuxer, int& error) {
    AVFormatContext* context = avformat_alloc_context();
    if (!context) {
        error = AVERROR(ENOMEM);
        return nullptr;
    }
    context->pb = io;
    // The container's bytes all come through `io`, so the demuxer needs no protocol of its own.
    // None is allowed: a concat list or playlist inside the file must not reach the network or
    // other files, and a concat list naming itself would open itself again and again until the
    // stack or the open-file limit gave out.
    context->protocol_whitelist = av_strdup("");
    if (!context->protocol_whitelist) {
        avformat_free_context(context);
        error = AVERROR(ENOMEM);
        return nullptr;
    }
    // On failure avformat_open_input frees the context and leaves our I/O context alone.
    error = avformat_open_input(&context, location.c_str(), demuxer, nullptr);
    return FormatContextPtr(error < 0 ? nullptr : context);
}

MediaType ToMediaType(AVMediaType type) {
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

std::int64_t DurationMicroseconds(const AVFormatContext& context) {
    static_assert(AV_TIME_BASE == 1000000, "the container's duration is in microseconds");
    if (context.duration != AV_NOPTS_VALUE && context.duration > 0) {
        return context.duration;
    }
    // Some headers give only per-stream durations.
    std::int64_t longest = 0;
    for (unsigned i = 0; i < context.nb_streams; ++i) {
        const AVStream& stream = *context.streams[i];
        if (stream.duration != AV_NOPTS_VALUE && stream.duration > 0) {
            longest = std::max(
                longest, av_rescale_q(stream.duration, stream.time_base, AVRational{1, 1000000}));
        }
    }
    return longest;
}

std::optional<std::string> TagValue(const AVDictionary* tags) {
    // Flags 0: the key is matched without regard to case, as some containers fold tag names.
    if (const AVDictionaryEntry* tag = av_dict_get(tags, kVantorSpecificMetadataTag, nullptr, 0)) {
        return std::string(tag->value ? tag->value : "");
    }
    return std::nullopt;
}

std::optional<std::string> VantorSpecificMetadata(const AVFormatContext& context) {
    if (auto value = TagValue(context.metadata)) {
        return value;
    }
    // Ogg keeps tags only in each stream's comment header, so the container has none of its own.
    if (context.iformat && std::strcmp(context.iformat->name, "ogg") == 0) {
        for (unsigned i = 0; i < context.nb_streams; ++i) {
            if (auto value = TagValue(context.streams[i]->metadata)) {
                return value;
            }
        }
    }
    return std::nullopt;
}

boost::intrusive_ptr<IStreamReader> CopyHeader(const ioPath& path, const AVFormatContext& context) {
    std::vector<boost::intrusive_ptr<IStream>> streams;
    streams.reserve(context.nb_streams);
    for (unsigned i = 0; i < context.nb_streams; ++i) {
        streams.emplace_back(
            new FfmpegStream(i, ToMediaType(context.streams[i]->codecpar->codec_type)));
    }
    return new FfmpegStreamReader(path, new FfmpegFormatFile(VantorSpecificMetadata(context)),
                                  std::move(streams), DurationMicroseconds(context));
}

}  // namespace

boost::intrusive_ptr<IStreamReader> CreateFfmpegStreamReader(const ioPath& path) {
    const std::string location = path.utf8string();

    std::string reason;
    std::unique_ptr<FileInput> input = FileInput::Open(location, reason);
    if (!input) {
        BOOST_THROW_EXCEPTION(std::runtime_error(OpenFailure(location, reason)));
    }

    int error = 0;
    FormatContextPtr context;
    unsigned char head[kSignatureBytes];
    const std::size_t headBytes = input->Head(head, sizeof head);
    if (const AVInputFormat* named = NamedDemuxer(path, head, headBytes)) {
        context = OpenDemuxer(location, input->Get(), named, error);
        if (!context && !input->Exhausted()) {
            // A damaged header; probing gets the last word, from the start on a fresh handle,
            // since the failed demuxer may have left the old one at EOF or in error.
            input = FileInput::Open(location, reason);
            if (!input) {
                BOOST_THROW_EXCEPTION(std::runtime_error(OpenFailure(location, reason)));
            }
        }
    }
    if (!context && !input->Exhausted()) {
        context = OpenDemuxer(location, input->Get(), nullptr, error);
    }
    if (!context) {
        BOOST_THROW_EXCEPTION(std::runtime_error(
            input->Exhausted() ? OpenFailure(location, FileInput::kExhaustedReason)
                               : OpenFailure(location, error)));
    }

    // Only formats without a header need packets read to learn their streams.
    if (context->ctx_flags & AVFMTCTX_NOHEADER) {
        error = avformat_find_stream_info(context.get(), nullptr);
        if (error < 0) {
            BOOST_THROW_EXCEPTION(std::runtime_error(
                input->Exhausted() ? OpenFailure(location, FileInput::kExhaustedReason)
                                   : OpenFailure(location, error)));
        }
    }

    auto reader = CopyHeader(path, *context);
    context.reset();  // before the I/O context it reads from
    input.reset();
    return reader;
}

}  // namespace Vantor::Proc
