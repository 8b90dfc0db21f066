#pragma once

// Owners of POSIX file descriptors and directory streams, for the file-system code that walks
// trees and moves entries by descriptor rather than by full path. Private to VantorPlatform.

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <system_error>
#include <utility>

namespace Vantor::Detail {

// For a directory read with a DirectoryStream or used as the base of *at() calls; never a link.
constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
// For a directory only used as the base of *at() calls; needs no read permission.
constexpr int kBaseDirectoryFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Closes the descriptor it holds; -1 holds nothing.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    int Release() { return std::exchange(fd_, -1); }
    void Reset(int fd = -1) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

// The entries of an open directory, "." and ".." left out.
class DirectoryStream {
public:
    // Reads through a descriptor of its own, so `directoryFd` stays usable for *at() calls and
    // keeps its position.
    explicit DirectoryStream(int directoryFd)
        : DirectoryStream(UniqueFd(::openat(directoryFd, ".", kDirectoryFlags))) {}
    // Reads through `fd`, which it closes.
    explicit DirectoryStream(UniqueFd fd) {
        if (fd.Valid() && (dir_ = ::fdopendir(fd.Get())) != nullptr) {
            fd.Release();
        }
    }
    ~DirectoryStream() {
        if (dir_ != nullptr) {
            ::closedir(dir_);
        }
    }
    DirectoryStream(const DirectoryStream&) = delete;
    DirectoryStream& operator=(const DirectoryStream&) = delete;

    bool Valid() const { return dir_ != nullptr; }

    // The next entry, or nullptr at the end or on a read error (errno tells them apart: it is
    // 0 at the end).
    const dirent* Next() {
        for (;;) {
            errno = 0;
            const dirent* entry = ::readdir(dir_);
            if (entry == nullptr || !IsDotOrDotDot(entry->d_name)) {
                return entry;
            }
        }
    }

    static bool IsDotOrDotDot(const char* name) {
        return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
    }

private:
    DIR* dir_ = nullptr;
};

inline std::string ErrnoText(int error) {
    return std::error_code(error, std::generic_category()).message();
}

}  // namespace Vantor::Detail
