#include "Platform/Reelkit/FileInput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

namespace Vantor::Proc {

namespace {

constexpr int kBufferSize = 32768;  // FFmpeg's own buffer for files
constexpr char kNotRegular[] = "not a regular file";

}  // namespace

std::string FfmpegErrorText(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    if (av_strerror(error, text, sizeof text) < 0 || text[0] == '\0') {
        return "FFmpeg error " + std::to_string(error);
    }
    return text;
}

std::unique_ptr<FileInput> FileInput::Open(const std::string& location, std::string& reason) {
    // A FIFO or a device would block the first read, or the open itself, for ever. The stat
    // spares such a file even the open; the fstat of what was opened decides, in case the path
    // changed in between, and O_NONBLOCK keeps the open of a FIFO from waiting for a writer (a
    // regular file ignores the flag).
    struct stat status {};
    if (::stat(location.c_str(), &status) != 0) {
        reason = FfmpegErrorText(AVERROR(errno));
        return nullptr;
    }
    if (!S_ISREG(status.st_mode)) {
        reason = kNotRegular;
        return nullptr;
    }
    const int fd = ::open(location.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        reason = FfmpegErrorText(AVERROR(errno));
        return nullptr;
    }
    std::unique_ptr<FileInput> input(new FileInput(fd));
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        reason = kNotRegular;
        return nullptr;
    }
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferSize));
    if (buffer) {
        input->io_ = avio_alloc_context(buffer, kBufferSize, 0, input.get(), &Read, nullptr, &Seek);
    }
    if (!input->io_) {
        av_free(buffer);
        reason = FfmpegErrorText(AVERROR(ENOMEM));
        return nullptr;
    }
    return input;
}

FileInput::~FileInput() {
    if (io_) {
        av_freep(&io_->buffer);  // FFmpeg may have replaced the one given to it
        avio_context_free(&io_);
    }
    ::close(fd_);
}

std::size_t FileInput::Head(unsigned char* bytes, std::size_t size) const {
    ssize_t got;
    do {
        got = ::pread(fd_, bytes, size, 0);
    } while (got < 0 && errno == EINTR);
    return got < 0 ? 0 : static_cast<std::size_t>(got);
}

int FileInput::Read(void* opaque, std::uint8_t* buffer, int size) {
    auto& input = *static_cast<FileInput*>(opaque);
    if (input.budget_ <= 0) {
        input.exhausted_ = true;
        return AVERROR_EOF;
    }
    const auto wanted = static_cast<std::size_t>(std::min<std::int64_t>(size, input.budget_));
    for (;;) {
        const ssize_t got = ::read(input.fd_, buffer, wanted);
        if (got > 0) {
            input.budget_ -= got;
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

std::int64_t FileInput::Seek(void* opaque, std::int64_t offset, int whence) {
    const int fd = static_cast<FileInput*>(opaque)->fd_;
    if (whence == AVSEEK_SIZE) {
        struct stat status {};
        if (::fstat(fd, &status) != 0) {
            return AVERROR(errno);
        }
        return status.st_size;
    }
    const off_t position = ::lseek(fd, offset, whence & ~AVSEEK_FORCE);
    return position < 0 ? AVERROR(errno) : position;
}

}  // namespace Vantor::Proc
