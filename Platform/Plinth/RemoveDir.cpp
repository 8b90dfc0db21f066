// Deleting a directory tree (or a single file or link) from disk.
//
// The walk goes by descriptor: each directory is opened relative to its parent and its entries
// are removed with unlinkat, so no full path is ever resolved and a tree of any depth goes, with
// one directory open at a time. Links are removed, never followed. An entry that is gone by the
// time we reach it (another process removing the same tree) counts as removed.

#include <sys/stat.h>

#include <cerrno>
#include <exception>
#include <set>
#include <string>
#include <vector>

#include <glog/logging.h>

#include "Platform/Plinth/Descriptors.h"
#include "Platform/Plinth/FileSystem.h"
#include "Platform/Plinth/PathText.h"

namespace Vantor::Core {

namespace {

using Detail::UniqueFd;

constexpr char kLog[] = "Vantor::Core::RemoveDir: ";

bool Gone(int error) {
    return error == ENOENT;
}

// One directory on the way down: its name in its parent, which directory it is (to check ".."
// on the way up), and the subdirectories of it that could not be emptied, so they are not
// entered again.
struct Level {
    std::string name;
    dev_t device = 0;
    ino_t inode = 0;
    std::set<std::string> stuck;
};

class TreeRemoval {
public:
    explicit TreeRemoval(std::string shown) : shown_(std::move(shown)) {}

    // Empties and removes the directory `name` in `parentFd`; true when it is gone.
    bool Remove(int parentFd, const std::string& name) {
        UniqueFd current(::openat(parentFd, name.c_str(), Detail::kDirectoryFlags));
        if (!current.Valid()) {
            return Gone(errno) || Failed(name, errno);
        }
        levels_.push_back(Describe(current.Get(), name));
        while (!levels_.empty()) {
            std::string subdirectory;
            EmptyFiles(current.Get(), subdirectory);
            if (!subdirectory.empty()) {
                UniqueFd child(
                    ::openat(current.Get(), subdirectory.c_str(), Detail::kDirectoryFlags));
                if (child.Valid()) {
                    levels_.push_back(Describe(child.Get(), subdirectory));
                    current = std::move(child);
                } else if (!Gone(errno)) {
                    Failed(subdirectory, errno);
                    levels_.back().stuck.insert(subdirectory);
                }
                continue;
            }
            // `current` holds no more than what could not be removed (or could not be read): try
            // to remove it from its parent; if it stays, its parent will not enter it again.
            const Level done = std::move(levels_.back());
            levels_.pop_back();
            bool parentIntact = true;
            UniqueFd parent = levels_.empty() ? UniqueFd(::dup(parentFd))
                                              : Up(current.Get(), parentFd, parentIntact);
            if (!parent.Valid()) {
                return Failed(done.name + "/..", errno);
            }
            // Without its parent, `done` went with it.
            if (parentIntact && ::unlinkat(parent.Get(), done.name.c_str(), AT_REMOVEDIR) != 0 &&
                !Gone(errno)) {
                Failed(done.name, errno);
                if (levels_.empty()) {
                    return false;
                }
                levels_.back().stuck.insert(done.name);
            }
            current = std::move(parent);
        }
        return failures_ == 0;
    }

private:
    static Level Describe(int fd, const std::string& name) {
        Level level;
        level.name = name;
        struct stat status {};
        if (::fstat(fd, &status) == 0) {
            level.device = status.st_dev;
            level.inode = status.st_ino;
        }
        return level;
    }

    // The directory of the deepest level, the parent of `fd`: through ".." while that is still
    // the directory we came from, else by name from `topFd` (the tree was moved, or `fd` was
    // removed under us). Levels found gone on the way are dropped, with `intact` set to false:
    // what was below them went with them.
    UniqueFd Up(int fd, int topFd, bool& intact) {
        UniqueFd parent(::openat(fd, "..", Detail::kDirectoryFlags));
        struct stat status {};
        if (parent.Valid() && ::fstat(parent.Get(), &status) == 0 &&
            status.st_dev == levels_.back().device && status.st_ino == levels_.back().inode) {
            return parent;
        }
        UniqueFd at(::dup(topFd));
        for (std::size_t depth = 0; at.Valid() && depth < levels_.size(); ++depth) {
            UniqueFd next(::openat(at.Get(), levels_[depth].name.c_str(), Detail::kDirectoryFlags));
            if (!next.Valid()) {
                if (!Gone(errno)) {
                    return UniqueFd();
                }
                levels_.resize(depth);
                intact = false;
                return at;
            }
            at = std::move(next);
        }
        return at;
    }

    // Unlinks every entry of `fd` but directories, and names in `subdirectory` the first one
    // still to enter (empty when none is left or the directory cannot be read).
    void EmptyFiles(int fd, std::string& subdirectory) {
        Detail::DirectoryStream entries(fd);
        if (!entries.Valid()) {
            Failed(levels_.back().name, errno);
            return;
        }
        const std::set<std::string>& stuck = levels_.back().stuck;
        while (const dirent* entry = entries.Next()) {
            bool isDirectory = entry->d_type == DT_DIR;
            if (entry->d_type == DT_UNKNOWN) {
                struct stat status {};
                if (::fstatat(fd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
                    continue;  // gone, or reported when its removal fails below
                }
                isDirectory = S_ISDIR(status.st_mode);
            }
            if (isDirectory) {
                if (subdirectory.empty() && stuck.count(entry->d_name) == 0) {
                    subdirectory = entry->d_name;
                }
                continue;
            }
            if (::unlinkat(fd, entry->d_name, 0) != 0 && !Gone(errno)) {
                Failed(entry->d_name, errno);
            }
        }
        if (errno != 0) {
            subdirectory.clear();  // a partial listing: leave this directory as it is
            Failed(levels_.back().name, errno);
        }
    }

    // Reports the first failure only: one unremovable file can fail a thousand siblings.
    bool Failed(const std::string& name, int error) {
        if (failures_++ == 0) {
            LOG(WARNING) << kLog << "cannot remove '" << name << "' in '" << shown_
                         << "': " << Detail::ErrnoText(error);
        }
        return false;
    }

    const std::string shown_;
    std::vector<Level> levels_;
    int failures_ = 0;
};

bool RemoveAt(const std::string& original) {
    const std::string text = Detail::WithoutTrailingSlashes(original);
    if (text.empty()) {
        return false;
    }
    const std::string name = Detail::LastComponent(text);
    if (name == "." || name == ".." || text == "/") {
        LOG(WARNING) << kLog << "refusing to remove '" << original << "'";
        return false;
    }
    const auto slash = text.find_last_of('/');
    const std::string parentText =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : text.substr(0, slash));
    // Links in the parent's path are followed, as any path's are; the last component never.
    const UniqueFd parent(::open(parentText.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat status {};
    if (!parent.Valid() ||
        ::fstatat(parent.Get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        return false;  // nothing there to remove
    }
    if (!S_ISDIR(status.st_mode)) {
        if (::unlinkat(parent.Get(), name.c_str(), 0) == 0 || Gone(errno)) {
            return true;
        }
        LOG(WARNING) << kLog << "cannot remove '" << text << "': " << Detail::ErrnoText(errno);
        return false;
    }
    return TreeRemoval(text).Remove(parent.Get(), name);
}

}  // namespace

bool RemoveDir(const ioPath& path) {
    try {
        return RemoveAt(path.utf8string());
    } catch (const std::exception& error) {
        LOG(ERROR) << kLog << error.what();
        return false;
    }
}

}  // namespace Vantor::Core
