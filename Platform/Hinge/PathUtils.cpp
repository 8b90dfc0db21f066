#include "Platform/Hinge/PathUtils.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <exception>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include <glog/logging.h>

namespace Vantor::Util {

namespace {

// Directories below this depth are reached by a path relative to the deepest held ancestor,
// so that a very deep tree cannot exhaust the process's file descriptors.
constexpr std::size_t kMaxHeldDirectories = 64;

constexpr int kDirectoryOpenFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    ~UniqueFd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const { return fd_; }

private:
    int fd_;
};

bool IsDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Sums the regular files directly inside the open directory `fd` and collects the names of its
// subdirectories. Only regular files (and entries whose type readdir does not report) cost a
// stat; links and special files count nothing and are never followed.
std::int64_t ScanDirectory(int fd, std::vector<std::string>& subdirectories) {
    const int readFd = ::dup(fd);
    if (readFd < 0) {
        return 0;
    }
    DIR* dir = ::fdopendir(readFd);
    if (dir == nullptr) {
        ::close(readFd);
        return 0;
    }
    std::int64_t bytes = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (IsDotOrDotDot(entry->d_name)) {
            continue;
        }
        if (entry->d_type == DT_DIR) {
            subdirectories.emplace_back(entry->d_name);
            continue;
        }
        if (entry->d_type != DT_REG && entry->d_type != DT_UNKNOWN) {
            continue;
        }
        struct stat status {};
        if (::fstatat(fd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
            continue;
        }
        if (S_ISREG(status.st_mode)) {
            bytes += status.st_size;
        } else if (S_ISDIR(status.st_mode)) {
            subdirectories.emplace_back(entry->d_name);
        }
    }
    ::closedir(dir);
    return bytes;
}

struct Level {
    UniqueFd fd;  // -1 once the level is too deep to keep open
    std::string name;
    std::vector<std::string> pendingSubdirectories;
};

// Depth-first walk that opens every directory relative to an ancestor it holds open, so no
// path is resolved from the root again and no link is ever followed.
std::int64_t DirectoryTreeSize(UniqueFd root) {
    std::vector<Level> levels;
    levels.push_back(Level{std::move(root), {}, {}});
    std::int64_t bytes = ScanDirectory(levels.back().fd.get(), levels.back().pendingSubdirectories);

    while (!levels.empty()) {
        Level& current = levels.back();
        if (current.pendingSubdirectories.empty()) {
            levels.pop_back();
            continue;
        }
        std::string name = std::move(current.pendingSubdirectories.back());
        current.pendingSubdirectories.pop_back();

        std::size_t anchor = levels.size() - 1;
        std::string relative = name;
        while (levels[anchor].fd.get() < 0) {
            relative = levels[anchor].name + '/' + relative;
            --anchor;
        }
        UniqueFd fd(::openat(levels[anchor].fd.get(), relative.c_str(), kDirectoryOpenFlags));
        if (fd.get() < 0) {
            continue;  // unreadable or gone since it was listed: skipped
        }
        Level next{UniqueFd(), std::move(name), {}};
        bytes += ScanDirectory(fd.get(), next.pendingSubdirectories);
        if (levels.size() < kMaxHeldDirectories) {
            next.fd = std::move(fd);
        }
        levels.push_back(std::move(next));
    }
    return bytes;
}

}  // namespace

std::int64_t GetPathSize(const ioPath& path) {
    try {
        const std::string native = path.utf8string();
        struct stat status {};
        if (native.empty() || ::lstat(native.c_str(), &status) != 0) {
            return 0;
        }
        if (S_ISREG(status.st_mode)) {
            return status.st_size;
        }
        if (!S_ISDIR(status.st_mode)) {
            return 0;
        }
        UniqueFd root(::open(native.c_str(), kDirectoryOpenFlags));
        return root.get() < 0 ? 0 : DirectoryTreeSize(std::move(root));
    } catch (const std::exception& error) {
        // Only allocation can fail here; building the path text again could fail the same way.
        LOG(ERROR) << "GetPathSize: " << error.what();
        return 0;
    }
}

bool CanCreateFileIn(const QString& directory) {
    const std::string native = directory.toUtf8().toStdString();
    struct stat status {};
    if (native.empty() || ::stat(native.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        return false;
    }
    // mkostemp opens with O_CREAT | O_EXCL under a fresh name, so no existing file is touched.
    std::string probe = native + "/.vantor-probe-XXXXXX";
    const int fd = ::mkostemp(probe.data(), O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    if (::unlink(probe.c_str()) != 0) {
        LOG(WARNING) << "cannot remove the probe file '" << probe
                     << "': " << std::system_category().message(errno);
    }
    return true;
}

}  // namespace Vantor::Util
