#include "Platform/Reelkit/FfmpegStreamReader.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <glog/logging.h>
#include <boost/throw_exception.hpp>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

#include "Platform/Plinth/RefCountable.h"

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

// ---- FFmpeg's log -------------------------------------------------------------------------

// Nonzero while this thread is inside one of our FFmpeg calls. Those calls' messages are ours
// to silence: a bad file reaches the caller as an exception, not as console noise. Messages of
// other FFmpeg users in the process keep FFmpeg's default behaviour.
thread_local int ownFfmpegCalls = 0;

void RouteFfmpegLog(void* context, int level, const char* format, va_list arguments) {
    if (ownFfmpegCalls == 0) {
        av_log_default_callback(context, level, format, arguments);
        return;
    }
    if (level > AV_LOG_ERROR || !VLOG_IS_ON(1)) {
        return;
    }
    try {
        thread_local int printPrefix = 1;
        char line[1024];
        av_log_format_line2(context, level, format, arguments, line, sizeof line, &printPrefix);
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
            text.pop_back();
        }
        if (!text.empty()) {
            VLOG(1) << "FFmpeg: " << text;
        }
    } catch (...) {
        // A log line is never worth unwinding through FFmpeg's C frames.
    }
}

class OwnFfmpegCall {
public:
    OwnFfmpegCall() {
        static std::once_flag installed;
        std::call_once(installed, [] { av_log_set_callback(&RouteFfmpegLog); });
        ++ownFfmpegCalls;
    }
    ~OwnFfmpegCall() { --ownFfmpegCalls; }
    OwnFfmpegCall(const OwnFfmpegCall&) = delete;
    OwnFfmpegCall& operator=(const OwnFfmpegCall&) = delete;
};

// ---- opening ------------------------------------------------------------------------------

struct CloseFormatContext {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
using FormatContextPtr = std::unique_ptr<AVFormatContext, CloseFormatContext>;

// The file, read by FFmpeg through callbacks on a plain descriptor. FFmpeg's own "file:"
// protocol costs a URL layer and three more system calls per open, which together weigh as
// much as reading a Matroska header; the callbacks behave as that protocol does.
class FileInput {
public:
    // Null with `error` set to FFmpeg's code when the file can not be opened.
    static std::unique_ptr<FileInput> Open(const std::string& location, int& error) {
        const int fd = ::open(location.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            error = AVERROR(errno);
            return nullptr;
        }
        std::unique_ptr<FileInput> input(new FileInput(fd));
        auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferSize));
        if (buffer) {
            input->io_ =
                avio_alloc_context(buffer, kBufferSize, 0, input.get(), &Read, nullptr, &Seek);
        }
        if (!input->io_) {
            av_free(buffer);
            error = AVERROR(ENOMEM);
            return nullptr;
        }
        return input;
    }

    ~FileInput() {
        if (io_) {
            av_freep(&io_->buffer);  // FFmpeg may have replaced the one given to it
            avio_context_free(&io_);
        }
        ::close(fd_);
    }
    FileInput(const FileInput&) = delete;
    FileInput& operator=(const FileInput&) = delete;

    AVIOContext* Get() const { return io_; }

private:
    static constexpr int kBufferSize = 32768;  // FFmpeg's own buffer for files

    explicit FileInput(int fd) : fd_(fd) {}

    static int Read(void* opaque, std::uint8_t* buffer, int size) {
        const int fd = static_cast<FileInput*>(opaque)->fd_;
        for (;;) {
            const ssize_t got = ::read(fd, buffer, static_cast<std::size_t>(size));
            if (got > 0) {
                return static_cast<int>(got);
            }
            if (got == 0) {
                return AVERROR_EOF;
            }
            if (errno != EINTR) {
                return AVERROR(errno);
            }
        }
    }

    static std::int64_t Seek(void* opaque, std::int64_t offset, int whence) {
        const int fd = static_cast<FileInput*>(opaque)->fd_;
        if (whence == AVSEEK_SIZE) {
            struct stat status {};
            if (::fstat(fd, &status) != 0) {
                return AVERROR(errno);
            }
            return S_ISFIFO(status.st_mode) ? 0 : status.st_size;
        }
        const off_t position = ::lseek(fd, offset, whence & ~AVSEEK_FORCE);
        return position < 0 ? AVERROR(errno) : position;
    }

    int fd_;
    AVIOContext* io_ = nullptr;
};

std::string Lowercase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// Demuxers that check their container's signature, so that content of another kind fails
// to open and is then probed. Others (tty for ".txt", raw streams, ...) accept any bytes and
// would hide a real container behind a misleading name.
bool ChecksItsSignature(const AVInputFormat& demuxer) {
    static const char* const kNames[] = {"matroska,webm", "mov,mp4,m4a,3gp,3g2,mj2", "avi", "ogg",
                                         "nut"};
    return std::any_of(std::begin(kNames), std::end(kNames),
                       [&](const char* name) { return std::strcmp(demuxer.name, name) == 0; });
}

// The file extensions those demuxers declare, to the first demuxer that declares each.
// Built once: walking FFmpeg's demuxer list per open would cost as much as the open itself.
const std::unordered_map<std::string, const AVInputFormat*>& DemuxersByExtension() {
    static const auto table = [] {
        std::unordered_map<std::string, const AVInputFormat*> demuxers;
        void* cursor = nullptr;
        while (const AVInputFormat* demuxer = av_demuxer_iterate(&cursor)) {
            if (!demuxer->extensions || !ChecksItsSignature(*demuxer)) {
                continue;
            }
            const std::string list = demuxer->extensions;
            for (std::size_t start = 0; start <= list.size();) {
                std::size_t end = list.find(',', start);
                if (end == std::string::npos) {
                    end = list.size();
                }
                if (end > start) {
                    demuxers.emplace(Lowercase(list.substr(start, end - start)), demuxer);
                }
                start = end + 1;
            }
        }
        return demuxers;
    }();
    return table;
}

const AVInputFormat* DemuxerForExtension(const ioPath& path) {
    const std::string extension = path.extension().utf8string();
    if (extension.size() < 2) {
        return nullptr;
    }
    const auto& demuxers = DemuxersByExtension();
    const auto found = demuxers.find(Lowercase(extension.substr(1)));
    return found == demuxers.end() ? nullptr : found->second;
}

std::string FfmpegErrorText(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    if (av_strerror(error, text, sizeof text) < 0 || text[0] == '\0') {
        return "FFmpeg error " + std::to_string(error);
    }
    return text;
}

std::string OpenFailure(const std::string& location, int error) {
    return "can not open media file '" + location + "': " + FfmpegErrorText(error);
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

std::optional<std::string> VantorSpecificMetadata(const AVFormatContext& context) {
    // Flags 0: the key is matched without regard to case, as some containers fold tag names.
    if (const AVDictionaryEntry* tag =
            av_dict_get(context.metadata, kVantorSpecificMetadataTag, nullptr, 0)) {
        return std::string(tag->value ? tag->value : "");
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
    const OwnFfmpegCall quiet;
    const std::string location = path.utf8string();

    int error = 0;
    std::unique_ptr<FileInput> input = FileInput::Open(location, error);
    if (!input) {
        BOOST_THROW_EXCEPTION(std::runtime_error(OpenFailure(location, error)));
    }

    // Naming the demuxer skips probing, which costs more than reading a Matroska header.
    FormatContextPtr context;
    if (const AVInputFormat* named = DemuxerForExtension(path)) {
        context = OpenDemuxer(location, input->Get(), named, error);
        if (!context) {
            // The name lied about the content; probe it from the start on a fresh handle,
            // since the failed demuxer may have left the old one at EOF or in error.
            input = FileInput::Open(location, error);
            if (!input) {
                BOOST_THROW_EXCEPTION(std::runtime_error(OpenFailure(location, error)));
            }
        }
    }
    if (!context) {
        context = OpenDemuxer(location, input->Get(), nullptr, error);
    }
    if (!context) {
        BOOST_THROW_EXCEPTION(std::runtime_error(OpenFailure(location, error)));
    }

    // Only formats without a header need packets read to learn their streams.
    if (context->ctx_flags & AVFMTCTX_NOHEADER) {
        error = avformat_find_stream_info(context.get(), nullptr);
        if (error < 0) {
            BOOST_THROW_EXCEPTION(std::runtime_error(OpenFailure(location, error)));
        }
    }

    auto reader = CopyHeader(path, *context);
    context.reset();  // before the I/O context it reads from
    input.reset();
    return reader;
}

}  // namespace Vantor::Proc
