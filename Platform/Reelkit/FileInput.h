#pragma once

// The file behind one open of the FFmpeg stream reader, read by FFmpeg through callbacks on a
// plain descriptor. FFmpeg's own "file:" protocol costs a URL layer and three more system calls
// per open, which together weigh as much as reading a Matroska header; the callbacks behave as
// that protocol does, with two differences: anything but a regular file is refused, and FFmpeg
// gets at most kReadBudget bytes, so that no damaged or misleading file is read to its end.
// Internal to the FFmpeg stream reader.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

extern "C" {
struct AVIOContext;
}

namespace Vantor::Proc {

// FFmpeg's text for an AVERROR code.
std::string FfmpegErrorText(int error);

class FileInput {
public:
    // Far more than any header: a Matroska or MP4 index of hours of recording takes a few MiB.
    static constexpr std::int64_t kReadBudget = 16 * 1024 * 1024;
    static constexpr const char* kExhaustedReason = "no header within its first 16 MiB";

    // Null with `reason` set ("not a regular file", or the system's reason) when `location` can
    // not be opened.
    static std::unique_ptr<FileInput> Open(const std::string& location, std::string& reason);

    ~FileInput();
    FileInput(const FileInput&) = delete;
    FileInput& operator=(const FileInput&) = delete;

    AVIOContext* Get() const { return io_; }

    // Up to `size` bytes from the start of the file, leaving the read position and the budget
    // alone; fewer when the file is shorter or unreadable.
    std::size_t Head(unsigned char* bytes, std::size_t size) const;

    // Whether FFmpeg asked for more than kReadBudget bytes (and was told the file ended there).
    bool Exhausted() const { return exhausted_; }

private:
    explicit FileInput(int fd) : fd_(fd) {}

    static int Read(void* opaque, std::uint8_t* buffer, int size);
    static std::int64_t Seek(void* opaque, std::int64_t offset, int whence);

    int fd_;
    AVIOContext* io_ = nullptr;
    std::int64_t budget_ = kReadBudget;
    bool exhausted_ = false;
};

}  // namespace Vantor::Proc
