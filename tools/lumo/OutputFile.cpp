#include "tools/lumo/OutputFile.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "tools/lumo/Ffmpeg.h"

namespace Vantor::Lumo::Tool {

namespace {

std::runtime_error SystemError(const std::string& what) {
    return std::runtime_error(what + ": " + std::strerror(errno));
}

// "dir/name" -> a fresh, existing, empty "dir/.name.partial-XXXXXX".
std::string ReserveTemporaryBeside(const std::string& path) {
    const auto slash = path.rfind('/');
    const std::string directory = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string pattern = directory + "." + name + ".partial-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const int fd = mkstemp(buffer.data());
    if (fd < 0) {
        throw SystemError("can not create a file beside '" + path + "'");
    }
    // mkstemp makes it private; the recording gets the mode any new file would.
    const mode_t umaskBits = umask(0);
    umask(umaskBits);
    fchmod(fd, 0666 & ~umaskBits);
    close(fd);
    return buffer.data();
}

}  // namespace

OutputFile::OutputFile(const std::string& path, const std::string& containerTag) : path_(path) {
    // Named, because the project's extension need not tell FFmpeg the format.
    CheckFfmpeg(avformat_alloc_output_context2(&context_, nullptr, "matroska", nullptr),
                "can not set up a Matroska muxer");
    if (!containerTag.empty()) {
        CheckFfmpeg(
            av_dict_set(&context_->metadata, "VANTOR_SPECIFIC_METADATA", containerTag.c_str(), 0),
            "can not tag '" + path + "'");
    }
    temporary_ = ReserveTemporaryBeside(path);
    // "file:" keeps a name such as "a:b" from being taken for another protocol.
    CheckFfmpeg(avio_open(&context_->pb, ("file:" + temporary_).c_str(), AVIO_FLAG_WRITE),
                "can not write '" + temporary_ + "'");
}

OutputFile::~OutputFile() {
    if (context_) {
        avio_closep(&context_->pb);
        avformat_free_context(context_);
    }
    if (!committed_ && !temporary_.empty()) {
        unlink(temporary_.c_str());
    }
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
    CheckFfmpeg(avformat_write_header(context_, nullptr), "can not write '" + path_ + "'");
}

void OutputFile::Write(AVPacket& packet) {
    CheckFfmpeg(av_interleaved_write_frame(context_, &packet), "can not write '" + path_ + "'");
}

void OutputFile::Finish() {
    CheckFfmpeg(av_write_trailer(context_), "can not write '" + path_ + "'");
    CheckFfmpeg(avio_closep(&context_->pb), "can not write '" + path_ + "'");
}

void OutputFile::Commit() {
    int result = renameat2(AT_FDCWD, temporary_.c_str(), AT_FDCWD, path_.c_str(), RENAME_NOREPLACE);
    if (result != 0 && errno == EINVAL) {
        // A file system without RENAME_NOREPLACE: the project's name was free a moment ago.
        result = rename(temporary_.c_str(), path_.c_str());
    }
    if (result != 0) {
        throw SystemError("can not name the recording '" + path_ + "'");
    }
    committed_ = true;
}

}  // namespace Vantor::Lumo::Tool
