#include "Recorder/Output/MatroskaWriter.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include <glog/logging.h>

#include "Recorder/Ffmpeg.h"

namespace Vantor::Lumo::Recorder {

namespace {

// A cluster reaches the disk when it closes: this bounds what a crash can lose.
constexpr char kClusterMilliseconds[] = "1000";
// The first cluster closes early, so the file gets its name soon.
constexpr double kFirstClusterSeconds = 0.5;
constexpr int kBufferBytes = 64 * 1024;

int WriteAll(void* opaque, std::uint8_t* data, int size) {
    const int fd = *static_cast<int*>(opaque);
    for (int done = 0; done < size;) {
        const ssize_t written = write(fd, data + done, static_cast<std::size_t>(size - done));
        if (written < 0 && errno != EINTR) {
            return AVERROR(errno);
        }
        done += written > 0 ? static_cast<int>(written) : 0;
    }
    return size;
}

std::int64_t Seek(void* opaque, std::int64_t offset, int whence) {
    const int fd = *static_cast<int*>(opaque);
    if (whence == AVSEEK_SIZE) {
        struct stat status {};
        return fstat(fd, &status) == 0 ? status.st_size : AVERROR(errno);
    }
    const off_t position = lseek(fd, offset, whence & ~AVSEEK_FORCE);
    return position < 0 ? AVERROR(errno) : position;
}

}  // namespace

MatroskaWriter::MatroskaWriter(const std::string& path, const std::string& containerTag,
                               NextName nextName)
    : file_(path, std::move(nextName)), fd_(file_.Descriptor()) {
    // Named, because the project's extension need not tell FFmpeg the format.
    CheckFfmpeg(avformat_alloc_output_context2(&context_, nullptr, "matroska", nullptr),
                "can not set up a Matroska muxer");
    try {
        if (!containerTag.empty()) {
            CheckFfmpeg(av_dict_set(&context_->metadata, "VANTOR_SPECIFIC_METADATA",
                                    containerTag.c_str(), 0),
                        "can not tag '" + path + "'");
        }
        auto* buffer = static_cast<std::uint8_t*>(av_malloc(kBufferBytes));
        context_->pb =
            buffer ? avio_alloc_context(buffer, kBufferBytes, 1, &fd_, nullptr, WriteAll, Seek)
                   : nullptr;
        if (!context_->pb) {
            av_free(buffer);
            throw std::bad_alloc();
        }
    } catch (...) {
        avformat_free_context(context_);
        file_.Discard();
        throw;
    }
    context_->flags |= AVFMT_FLAG_FLUSH_PACKETS | AVFMT_FLAG_CUSTOM_IO;
}

MatroskaWriter::~MatroskaWriter() {
    if (!done_) {
        file_.Discard();
    }
    if (context_->pb) {
        av_freep(&context_->pb->buffer);
    }
    avio_context_free(&context_->pb);
    avformat_free_context(context_);
}

std::string MatroskaWriter::Path() const {
    const std::lock_guard<std::mutex> lock(writing_);
    return file_.Path();
}

bool MatroskaWriter::NeedsGlobalHeader() const {
    return (context_->oformat->flags & AVFMT_GLOBALHEADER) != 0;
}

AVStream* MatroskaWriter::AddStream(const AVCodecContext& encoder, int index) {
    AVStream* stream = avformat_new_stream(context_, nullptr);
    if (!stream) {
        throw std::bad_alloc();
    }
    if (stream->index != index) {
        throw std::logic_error("'" + file_.Path() + "' would get stream " + std::to_string(index) +
                               " at index " + std::to_string(stream->index));
    }
    CheckFfmpeg(avcodec_parameters_from_context(stream->codecpar, &encoder),
                "can not describe a stream of '" + file_.Path() + "'");
    stream->time_base = encoder.time_base;
    return stream;
}

void MatroskaWriter::WriteHeader() {
    AVDictionary* options = nullptr;
    av_dict_set(&options, "cluster_time_limit", kClusterMilliseconds, 0);
    const int result = avformat_write_header(context_, &options);
    av_dict_free(&options);
    if (result < 0) {
        Fail(result);
    }
    avio_flush(context_->pb);
    if (context_->pb->error < 0) {
        Fail(context_->pb->error);
    }
    headerEnd_ = avio_tell(context_->pb);
}

void MatroskaWriter::Write(AVPacket& packet) {
    const std::lock_guard<std::mutex> lock(writing_);
    if (!opens_ && packet.pts != AV_NOPTS_VALUE &&
        packet.pts * av_q2d(context_->streams[packet.stream_index]->time_base) >=
            kFirstClusterSeconds) {
        CloseFirstCluster();
    }
    const int result = av_interleaved_write_frame(context_, &packet);
    if (result < 0) {
        Fail(result);
    }
    ++packets_;
}

// Once a cluster is on the disk, the file opens: it may take its name.
void MatroskaWriter::CloseFirstCluster() {
    const int result = av_write_frame(context_, nullptr);
    avio_flush(context_->pb);
    if (result < 0 || context_->pb->error < 0) {
        Fail(result < 0 ? result : context_->pb->error);
    }
    if (avio_tell(context_->pb) > headerEnd_) {
        opens_ = true;
        file_.Name();
    }
}

void MatroskaWriter::Finish() {
    const std::lock_guard<std::mutex> lock(writing_);
    const int result = av_write_trailer(context_);
    avio_flush(context_->pb);
    if (result < 0 || context_->pb->error < 0) {
        Fail(result < 0 ? result : context_->pb->error);
    }
    if (fsync(fd_) != 0) {
        Fail(AVERROR(errno));
    }
    opens_ = true;
    file_.Name();
    done_ = true;
}

bool MatroskaWriter::Keep() noexcept {
    const std::lock_guard<std::mutex> lock(writing_);
    done_ = true;
    try {
        if (opens_) {
            file_.Name();
            return true;
        }
    } catch (const std::exception& error) {
        LOG(WARNING) << "lumo: " << error.what();
    }
    file_.Discard();
    return false;
}

void MatroskaWriter::Fail(int error) {
    if (error == AVERROR(ENOSPC) || error == AVERROR(EDQUOT)) {
        throw std::runtime_error("the disk is full");
    }
    throw std::runtime_error("can not write '" + file_.Path() + "': " + FfmpegErrorText(error));
}

}  // namespace Vantor::Lumo::Recorder
