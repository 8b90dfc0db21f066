#include "tools/lumo/OutputFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "tools/lumo/Ffmpeg.h"

namespace Vantor::Lumo::Tool {

namespace {

// A cluster reaches the disk when it closes: this bounds what a crash can lose.
constexpr char kClusterMilliseconds[] = "1000";

// Makes `path` without ever replacing a file that appeared there since the project named it.
void CreateNew(const std::string& path) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        throw std::runtime_error("can not create '" + path + "': " + std::strerror(errno));
    }
    close(fd);
}

}  // namespace

OutputFile::OutputFile(const std::string& path, const std::string& containerTag) : path_(path) {
    // Named, because the project's extension need not tell FFmpeg the format.
    CheckFfmpeg(avformat_alloc_output_context2(&context_, nullptr, "matroska", nullptr),
                "can not set up a Matroska muxer");
    try {
        if (!containerTag.empty()) {
            CheckFfmpeg(av_dict_set(&context_->metadata, "VANTOR_SPECIFIC_METADATA",
                                    containerTag.c_str(), 0),
                        "can not tag '" + path + "'");
        }
        CreateNew(path);
        // "file:" keeps a name such as "a:b" from being taken for another protocol.
        const int opened = avio_open(&context_->pb, ("file:" + path).c_str(), AVIO_FLAG_WRITE);
        if (opened < 0) {
            unlink(path.c_str());
            CheckFfmpeg(opened, "can not write '" + path + "'");
        }
    } catch (...) {
        avformat_free_context(context_);
        throw;
    }
    context_->flags |= AVFMT_FLAG_FLUSH_PACKETS;
}

OutputFile::~OutputFile() {
    avio_closep(&context_->pb);
    avformat_free_context(context_);
}

bool OutputFile::NeedsGlobalHeader() const {
    return (context_->oformat->flags & AVFMT_GLOBALHEADER) != 0;
}

AVStream* OutputFile::AddStream(const AVCodecContext& encoder, int index) {
    AVStream* stream = avformat_new_stream(context_, nullptr);
    if (!stream) {
        throw std::bad_alloc();
    }
    if (stream->index != index) {
        throw std::logic_error("'" + path_ + "' would get stream " + std::to_string(index) +
                               " at index " + std::to_string(stream->index));
    }
    CheckFfmpeg(avcodec_parameters_from_context(stream->codecpar, &encoder),
                "can not describe a stream of '" + path_ + "'");
    stream->time_base = encoder.time_base;
    return stream;
}

void OutputFile::WriteHeader() {
    AVDictionary* options = nullptr;
    av_dict_set(&options, "cluster_time_limit", kClusterMilliseconds, 0);
    const int result = avformat_write_header(context_, &options);
    av_dict_free(&options);
    CheckFfmpeg(result, "can not write '" + path_ + "'");
    // The muxer keeps the header in its buffer until the first cluster closes otherwise.
    avio_flush(context_->pb);
    CheckFfmpeg(context_->pb->error, "can not write '" + path_ + "'");
}

void OutputFile::Write(AVPacket& packet) {
    const std::lock_guard<std::mutex> lock(writing_);
    CheckFfmpeg(av_interleaved_write_frame(context_, &packet), "can not write '" + path_ + "'");
    ++packets_;
}

void OutputFile::Finish() {
    const std::lock_guard<std::mutex> lock(writing_);
    CheckFfmpeg(av_write_trailer(context_), "can not write '" + path_ + "'");
    CheckFfmpeg(avio_closep(&context_->pb), "can not write '" + path_ + "'");
}

OutputFile& FileAt(std::vector<std::unique_ptr<OutputFile>>& files, const std::string& path,
                   const std::string& containerTag) {
    const auto found = std::find_if(files.begin(), files.end(),
                                    [&](const auto& file) { return file->Path() == path; });
    if (found != files.end()) {
        return **found;
    }
    return *files.emplace_back(std::make_unique<OutputFile>(path, containerTag));
}

}  // namespace Vantor::Lumo::Tool
