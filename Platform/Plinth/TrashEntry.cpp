// The entry transaction. The order of the steps is what keeps the user's data safe: the name is
// reserved by creating info/NAME.trashinfo with O_EXCL, the info file is written and flushed to
// disk, and only then is the item renamed into files/NAME. A crash can leave an info file
// without an item, never an item without its info file.

#include <limits.h>
#include <stdio.h>  // renameat2

#include <algorithm>
#include <cerrno>
#include <string_view>

#include <glog/logging.h>

#include "Platform/Plinth/PathText.h"
#include "Platform/Plinth/TrashParts.h"

namespace Vantor::Core::Trash {

namespace {

using Detail::ErrnoText;
using Detail::Join;
using Detail::UniqueFd;

// Plain numbered names are probed one by one up to this suffix; beyond it the info directory
// is read once to find the highest suffix in use, so many equal names stay cheap.
constexpr int kLinearProbes = 10;
constexpr int kMaxProbes = 100000;

// The highest N of "STEM.N.EXT.trashinfo" in the info directory; 1 when there is none.
long HighestNumberInUse(int infoFd, const NameSequence& names) {
    Detail::DirectoryStream listing(infoFd);
    if (!listing.Valid()) {
        return 1;
    }
    const std::string prefix = names.Stem() + ".";
    const std::string ending = names.Extension() + kInfoSuffix;
    long highest = 1;
    while (const dirent* entry = listing.Next()) {
        const std::string_view name(entry->d_name);
        if (name.size() <= prefix.size() + ending.size() ||
            name.substr(0, prefix.size()) != prefix ||
            name.substr(name.size() - ending.size()) != ending) {
            continue;
        }
        const auto digits = name.substr(prefix.size(), name.size() - prefix.size() - ending.size());
        if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string_view::npos) {
            continue;
        }
        highest = std::max(highest, std::stol(std::string(digits)));
    }
    return highest;
}

bool WriteAll(int fd, const std::string& text) {
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t result = ::write(fd, text.data() + written, text.size() - written);
        if (result < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        written += static_cast<std::size_t>(result);
    }
    return true;
}

enum class Attempt { Moved, NameTaken, Failed };

class TrashMove {
public:
    TrashMove(const Item& item, const TrashDirectory& trash, std::string info)
        : item_(item), trash_(trash), info_(std::move(info)) {}

    Attempt TryName(const std::string& name) {
        const std::string infoName = name + kInfoSuffix;
        UniqueFd infoFd(::openat(trash_.info.Get(), infoName.c_str(),
                                 O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!infoFd.Valid()) {
            const int error = errno;
            if (error == EEXIST) {
                return Attempt::NameTaken;
            }
            return Fail("cannot create the info file", InfoPath(infoName), error);
        }
        struct stat existing {};
        // An entry in files/ without its info file is still somebody's data.
        if (::fstatat(trash_.files.Get(), name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
            Unreserve(infoName);
            return Attempt::NameTaken;
        }
        // The info file reaches the disk before the item moves. Its own fsync also commits its
        // name on ext4, XFS and btrfs (the journal carries the directory entry), so the
        // directory is not synced again: that would double the cost of every trash.
        if (!WriteAll(infoFd.Get(), info_) || ::fsync(infoFd.Get()) != 0 ||
            ::close(infoFd.Release()) != 0) {
            const int error = errno;
            Unreserve(infoName);
            return Fail("cannot write the info file", InfoPath(infoName), error);
        }
        if (Rename(name) == 0) {
            return Attempt::Moved;
        }
        const int error = errno;
        Unreserve(infoName);
        if (error == EEXIST) {
            return Attempt::NameTaken;
        }
        return Fail("cannot move the item into", Join(trash_.path, "files/" + name), error);
    }

private:
    int Rename(const std::string& name) {
        if (::renameat2(item_.directoryFd.Get(), item_.name.c_str(), trash_.files.Get(),
                        name.c_str(), RENAME_NOREPLACE) == 0) {
            return 0;
        }
        if (errno != EINVAL && errno != ENOSYS) {
            return -1;
        }
        // Some file systems cannot refuse to replace; check ourselves, then rename plainly.
        struct stat existing {};
        if (::fstatat(trash_.files.Get(), name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
            errno = EEXIST;
            return -1;
        }
        return ::renameat(item_.directoryFd.Get(), item_.name.c_str(), trash_.files.Get(),
                          name.c_str());
    }

    void Unreserve(const std::string& infoName) {
        ::unlinkat(trash_.info.Get(), infoName.c_str(), 0);
    }

    std::string InfoPath(const std::string& infoName) const {
        return Join(trash_.path, "info/" + infoName);
    }

    Attempt Fail(const char* what, const std::string& path, int error) {
        LOG(WARNING) << kLog << what << " '" << path << "' for '" << item_.absolute
                     << "': " << ErrnoText(error);
        return Attempt::Failed;
    }

    const Item& item_;
    const TrashDirectory& trash_;
    const std::string info_;
};

}  // namespace

bool MoveIntoTrash(const Item& item, const TrashDirectory& trash) {
    if (Detail::IsSameOrInside(item.absolute, trash.path) ||
        Detail::IsSameOrInside(trash.path, item.absolute)) {
        LOG(WARNING) << kLog << "refusing to trash '" << item.absolute
                     << "', it holds or is inside the trash '" << trash.path << "'";
        return false;
    }
    // Paths in a trash at the top of a file system are relative to that top.
    const std::string original =
        trash.topdir.empty()
            ? item.absolute
            : item.absolute.substr(trash.topdir == "/" ? 1 : trash.topdir.size() + 1);

    const long nameMax = ::fpathconf(trash.info.Get(), _PC_NAME_MAX);
    const NameSequence names(item.name, item.isDirectory,
                             nameMax > static_cast<long>(kInfoSuffixLength) + 16
                                 ? static_cast<std::size_t>(nameMax)
                                 : NAME_MAX);
    TrashMove move(item, trash, InfoText(original, LocalDeletionDate()));
    long number = 1;
    for (int probes = 0; probes < kMaxProbes; ++probes, ++number) {
        if (number == kLinearProbes + 1) {
            number = std::max(number, HighestNumberInUse(trash.info.Get(), names) + 1);
        }
        switch (move.TryName(names.Candidate(number))) {
            case Attempt::Moved:
                return true;
            case Attempt::Failed:
                return false;
            case Attempt::NameTaken:
                break;
        }
    }
    LOG(WARNING) << kLog << "no free name in '" << trash.path << "' for '" << item.absolute << "'";
    return false;
}

}  // namespace Vantor::Core::Trash
