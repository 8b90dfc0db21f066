#include "Platform/Hinge/PathUtils.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <exception>
#include <limits>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include <glog/logging.h>

#include "Platform/Plinth/Descriptors.h"

namespace Vantor::Util {

namespace {

// The walk holds at most this many directory descriptors, however deep the tree.
constexpr std::size_t kMaxHeldDirectories = 64;

constexpr int kDirectoryOpenFlags = Detail::kDirectoryFlags;
using Detail::UniqueFd;

// Sizes add up to at most the largest total there is: sparse files can claim any size, and a
// signed overflow would be undefined.
std::int64_t SaturatingAdd(std::int64_t total, std::int64_t size) {
    if (size <= 0) {
        return total;
    }
    return total > std::numeric_limits<std::int64_t>::max() - size
               ? std::numeric_limits<std::int64_t>::max()
               : total + size;
}

// Sums the regular files directly inside the open directory `fd` and collects the names of its
// subdirectories. Only regular files (and entries whose type readdir does not report) cost a
// stat; links and special files count nothing and are never followed.
std::int64_t ScanDirectory(int fd, std::vector<std::string>& subdirectories) {
    Detail::DirectoryStream dir(fd);
    if (!dir.Valid()) {
        return 0;
    }
    std::int64_t bytes = 0;
    while (const dirent* entry = dir.Next()) {
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
            bytes = SaturatingAdd(bytes, status.st_size);
        } else if (S_ISDIR(status.st_mode)) {
            subdirectories.emplace_back(entry->d_name);
        }
    }
    return bytes;
}

// One directory on the way down from the root: its name in its parent, the subdirectories
// still to visit, its descriptor while the walk holds one, and, once that was given up, which
// directory it was.
struct Level {
    std::string name;
    std::vector<std::string> pendingSubdirectories;
    UniqueFd fd;
    dev_t device = 0;
    ino_t inode = 0;
};

// Depth-first walk in which every directory is opened by its own name relative to its parent's
// descriptor: no path is ever resolved in full, so depth costs nothing, and no link is followed.
// The descriptors held are the root's and those of the deepest levels, contiguous below the
// current one. A level whose descriptor was given up is opened again only when it still has
// subdirectories to visit: as ".." of its child when that is still the same directory (one open
// per level, so a chain of any depth costs a constant per folder), else name by name from the
// deepest ancestor still held.
class TreeWalk {
public:
    explicit TreeWalk(UniqueFd root) {
        levels_.push_back(Level{{}, {}, std::move(root)});
        bytes_ = ScanDirectory(levels_.back().fd.Get(), levels_.back().pendingSubdirectories);
    }

    std::int64_t Total() {
        while (!levels_.empty()) {
            Level& current = levels_.back();
            if (current.pendingSubdirectories.empty()) {
                const std::size_t depth = levels_.size() - 1;
                UniqueFd parent = ParentIfNeeded(depth);
                Drop(depth);
                levels_.pop_back();
                if (parent.Get() >= 0) {
                    Hold(depth - 1, std::move(parent));
                }
                continue;
            }
            std::string name = std::move(current.pendingSubdirectories.back());
            current.pendingSubdirectories.pop_back();
            if (!Reopen(levels_.size() - 1)) {
                continue;  // the parent went away or became unreadable: its subtree is skipped
            }
            UniqueFd fd(::openat(levels_.back().fd.Get(), name.c_str(), kDirectoryOpenFlags));
            if (fd.Get() < 0) {
                continue;  // unreadable or gone since it was listed: skipped
            }
            Level next{std::move(name), {}, UniqueFd()};
            bytes_ = SaturatingAdd(bytes_, ScanDirectory(fd.Get(), next.pendingSubdirectories));
            levels_.push_back(std::move(next));
            Hold(levels_.size() - 1, std::move(fd));
        }
        return bytes_;
    }

private:
    // The parent of level `depth` through "..", when the parent's descriptor was given up, it has
    // subdirectories left and ".." is still the directory it was; otherwise none.
    UniqueFd ParentIfNeeded(std::size_t depth) const {
        if (depth == 0 || levels_[depth].fd.Get() < 0) {
            return UniqueFd();
        }
        const Level& parent = levels_[depth - 1];
        if (parent.fd.Get() >= 0 || parent.pendingSubdirectories.empty()) {
            return UniqueFd();
        }
        UniqueFd up(::openat(levels_[depth].fd.Get(), "..", kDirectoryOpenFlags));
        struct stat status {};
        if (up.Get() < 0 || ::fstat(up.Get(), &status) != 0 || status.st_dev != parent.device ||
            status.st_ino != parent.inode) {
            return UniqueFd();  // moved meanwhile: Reopen finds it by name, or skips it
        }
        return up;
    }

    // Makes sure level `depth` holds its descriptor; false when it can not be opened again.
    bool Reopen(std::size_t depth) {
        if (levels_[depth].fd.Get() >= 0) {
            return true;
        }
        std::size_t anchor = depth;
        while (levels_[anchor].fd.Get() < 0) {
            --anchor;  // the root is always held
        }
        for (std::size_t level = anchor + 1; level <= depth; ++level) {
            UniqueFd fd(::openat(levels_[level - 1].fd.Get(), levels_[level].name.c_str(),
                                 kDirectoryOpenFlags));
            if (fd.Get() < 0) {
                return false;
            }
            Hold(level, std::move(fd));
        }
        return true;
    }

    // Gives level `depth` its descriptor, giving up the shallowest other one when too many are
    // held. The held levels below the root stay one contiguous run ending at the deepest.
    void Hold(std::size_t depth, UniqueFd fd) {
        if (held_ == 0) {
            shallowestHeld_ = depth;
        }
        levels_[depth].fd = std::move(fd);
        ++held_;
        if (held_ + 1 > kMaxHeldDirectories) {
            Level& evicted = levels_[shallowestHeld_];
            struct stat status {};
            if (::fstat(evicted.fd.Get(), &status) == 0) {
                evicted.device = status.st_dev;
                evicted.inode = status.st_ino;
            }
            evicted.fd = UniqueFd();
            ++shallowestHeld_;
            --held_;
        }
    }

    void Drop(std::size_t depth) {
        if (depth > 0 && levels_[depth].fd.Get() >= 0) {
            levels_[depth].fd = UniqueFd();
            --held_;
        }
    }

    std::vector<Level> levels_;
    std::size_t held_ = 0;  // descriptors held below the root
    std::size_t shallowestHeld_ = 1;
    std::int64_t bytes_ = 0;
};

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
        return root.Get() < 0 ? 0 : TreeWalk(std::move(root)).Total();
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
