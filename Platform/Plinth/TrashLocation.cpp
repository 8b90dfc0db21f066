// Where an item's trash is: the home trash on the home's file system, otherwise a trash at the
// top of the item's own file system. Items are never copied across file systems, so an item
// that has no usable trash on its own file system stays where it is.

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include <glog/logging.h>

#include "Platform/Plinth/PathText.h"
#include "Platform/Plinth/TrashParts.h"

namespace Vantor::Core::Trash {

namespace {

using Detail::ErrnoText;
using Detail::Join;
using Detail::ParentOf;
using Detail::UniqueFd;

std::optional<std::string> HomeDirectory() {
    if (const char* home = std::getenv("HOME"); home && home[0] == '/') {
        return std::string(home);
    }
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    while (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE) {
        buffer.resize(buffer.size() * 2);
    }
    if (found && found->pw_dir && found->pw_dir[0] == '/') {
        return std::string(found->pw_dir);
    }
    return std::nullopt;
}

// Read on every call: the environment may change while the process runs.
std::optional<std::string> HomeTrashPath() {
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && data[0] == '/') {
        return Join(data, "Trash");
    }
    const auto home = HomeDirectory();
    if (!home) {
        return std::nullopt;
    }
    return Join(*home, ".local/share/Trash");
}

// The device a directory at `path` would live on: that of its nearest existing ancestor.
std::optional<dev_t> DeviceOfNearestExisting(std::string path) {
    for (;;) {
        struct stat status {};
        if (::stat(path.c_str(), &status) == 0) {
            return status.st_dev;
        }
        if (errno != ENOENT || path == "/") {
            return std::nullopt;
        }
        path = ParentOf(path);
    }
}

bool MakeDirectories(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST) {
        return true;
    }
    if (errno != ENOENT || path == "/") {
        return false;
    }
    return MakeDirectories(ParentOf(path)) && (::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST);
}

UniqueFd OpenOrMakeDirectoryAt(int parentFd, const char* name) {
    if (::mkdirat(parentFd, name, 0700) != 0 && errno != EEXIST) {
        return UniqueFd();
    }
    return UniqueFd(::openat(parentFd, name, Detail::kDirectoryFlags));
}

std::optional<TrashDirectory> OpenContents(std::string path, std::string topdir, int trashFd) {
    TrashDirectory trash{std::move(path), std::move(topdir),
                         OpenOrMakeDirectoryAt(trashFd, "files"),
                         OpenOrMakeDirectoryAt(trashFd, "info")};
    if (!trash.files.Valid() || !trash.info.Valid()) {
        LOG(WARNING) << kLog << "unusable trash directory '" << trash.path
                     << "': " << ErrnoText(errno);
        return std::nullopt;
    }
    return trash;
}

std::optional<TrashDirectory> OpenHomeTrash(const std::string& path) {
    if (!MakeDirectories(ParentOf(path)) || (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)) {
        LOG(WARNING) << kLog << "cannot create the trash '" << path << "': " << ErrnoText(errno);
        return std::nullopt;
    }
    // O_NOFOLLOW: a trash that is a symbolic link could send the user's files anywhere.
    UniqueFd trashFd(::open(path.c_str(), Detail::kDirectoryFlags));
    if (!trashFd.Valid()) {
        LOG(WARNING) << kLog << "refusing the trash '" << path << "': " << ErrnoText(errno);
        return std::nullopt;
    }
    return OpenContents(Detail::RealPath(path).value_or(path), "", trashFd.Get());
}

bool IsOurs(int fd, uid_t uid) {
    struct stat status {};
    return ::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == uid;
}

// $topdir/.Trash/$uid when the administrator set up a shared, sticky .Trash; else
// $topdir/.Trash-$uid, which we may create but must own.
std::optional<TrashDirectory> OpenTopdirTrash(const std::string& topdir) {
    UniqueFd topFd(::open(topdir.c_str(), Detail::kBaseDirectoryFlags));
    if (!topFd.Valid()) {
        LOG(WARNING) << kLog << "cannot open '" << topdir << "': " << ErrnoText(errno);
        return std::nullopt;
    }
    const uid_t uid = ::geteuid();
    const std::string uidText = std::to_string(uid);

    struct stat shared {};
    if (::fstatat(topFd.Get(), ".Trash", &shared, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISDIR(shared.st_mode) && (shared.st_mode & S_ISVTX) != 0) {
        UniqueFd sharedFd(::openat(topFd.Get(), ".Trash", Detail::kBaseDirectoryFlags));
        if (sharedFd.Valid()) {
            UniqueFd userFd = OpenOrMakeDirectoryAt(sharedFd.Get(), uidText.c_str());
            if (userFd.Valid() && IsOurs(userFd.Get(), uid)) {
                if (auto trash =
                        OpenContents(Join(topdir, ".Trash/" + uidText), topdir, userFd.Get())) {
                    return trash;
                }
            }
        }
    }

    const std::string own = ".Trash-" + uidText;
    UniqueFd ownFd = OpenOrMakeDirectoryAt(topFd.Get(), own.c_str());
    if (!ownFd.Valid() || !IsOurs(ownFd.Get(), uid)) {
        LOG(WARNING) << kLog << "refusing the trash '" << Join(topdir, own)
                     << "': " << (ownFd.Valid() ? "not owned by us" : ErrnoText(errno));
        return std::nullopt;
    }
    return OpenContents(Join(topdir, own), topdir, ownFd.Get());
}

// The mount point of the file system that holds `directory`.
std::string FindTopdir(std::string directory, dev_t device) {
    while (directory != "/") {
        const std::string parent = ParentOf(directory);
        struct stat status {};
        if (::stat(parent.c_str(), &status) != 0 || status.st_dev != device) {
            break;
        }
        directory = parent;
    }
    return directory;
}

}  // namespace

std::optional<TrashDirectory> OpenTrashFor(dev_t device, const std::string& directory) {
    const auto homeTrash = HomeTrashPath();
    if (!homeTrash) {
        LOG(WARNING) << kLog << "no home directory to keep the trash in";
        return std::nullopt;
    }
    const auto homeDevice = DeviceOfNearestExisting(ParentOf(*homeTrash));
    if (!homeDevice) {
        LOG(WARNING) << kLog << "unusable place for the trash '" << *homeTrash
                     << "': " << ErrnoText(errno);
        return std::nullopt;
    }
    if (*homeDevice == device) {
        return OpenHomeTrash(*homeTrash);
    }
    return OpenTopdirTrash(FindTopdir(directory, device));
}

}  // namespace Vantor::Core::Trash
