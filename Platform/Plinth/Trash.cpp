// Moving files and directories to the freedesktop.org trash (Trash specification 1.0).
//
// The order of the steps is what keeps the user's data safe: the name is reserved by creating
// info/NAME.trashinfo with O_EXCL, the info file is written and flushed to disk, and only then
// is the item renamed into files/NAME. A crash can leave an info file without an item, never
// an item without its info file. Items are never copied across file systems: when no trash on
// the item's own file system can be used, the call fails and the item stays where it is.

#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <dirent.h>
#include <glog/logging.h>

#include "Platform/Plinth/FileSystem.h"

namespace Vantor::Core {

namespace {

constexpr const char kInfoSuffix[] = ".trashinfo";
constexpr size_t kInfoSuffixLength = sizeof(kInfoSuffix) - 1;
// Plain numbered names are probed one by one up to this suffix; beyond it the info directory
// is read once to find the highest suffix in use, so many equal names stay cheap.
constexpr int kLinearProbes = 10;
constexpr int kMaxProbes = 100000;

std::string ErrnoText(int error) {
    return std::error_code(error, std::generic_category()).message();
}

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
    int Release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void Reset(int fd = -1) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
// For directories only used as the base of *at() calls; needs no read permission.
constexpr int kBaseDirectoryFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

std::string ParentOf(const std::string& absolute) {
    const auto slash = absolute.find_last_of('/');
    return slash == 0 || slash == std::string::npos ? "/" : absolute.substr(0, slash);
}

std::string Join(const std::string& directory, const std::string& name) {
    return directory == "/" ? "/" + name : directory + "/" + name;
}

bool IsSameOrInside(const std::string& path, const std::string& directory) {
    return path == directory ||
           (path.size() > directory.size() && path.compare(0, directory.size(), directory) == 0 &&
            (directory == "/" || path[directory.size()] == '/'));
}

std::optional<std::string> RealPath(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                         &std::free);
    if (!resolved) {
        return std::nullopt;
    }
    return std::string(resolved.get());
}

// RFC 2396: everything but unreserved characters and the path separator is escaped.
std::string PercentEncode(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(text.size());
    for (const char character : text) {
        const auto byte = static_cast<unsigned char>(character);
        const bool unreserved =
            (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
            (byte >= '0' && byte <= '9') ||
            std::string_view("-_.!~*'()/").find(character) != std::string_view::npos;
        if (unreserved) {
            encoded += character;
        } else {
            encoded += '%';
            encoded += kHex[byte >> 4];
            encoded += kHex[byte & 0xF];
        }
    }
    return encoded;
}

std::string LocalDeletionDate() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

// The item as the trash sees it: its canonical directory and its own name, never followed.
struct Item {
    std::string directory;
    std::string name;
    std::string absolute;
    UniqueFd directoryFd;
    struct stat status {};
    bool isDirectory = false;
};

std::optional<Item> LocateItem(const std::string& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    std::string path = text;
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    if (path.front() != '/') {
        std::unique_ptr<char, decltype(&std::free)> cwd(::getcwd(nullptr, 0), &std::free);
        if (!cwd) {
            LOG(WARNING) << "Vantor::Core::MoveToTrash: no current directory for '" << text
                         << "': " << ErrnoText(errno);
            return std::nullopt;
        }
        path = Join(cwd.get(), path);
    }
    const auto slash = path.find_last_of('/');
    Item item;
    item.name = path.substr(slash + 1);
    if (item.name.empty() || item.name == "." || item.name == "..") {
        LOG(WARNING) << "Vantor::Core::MoveToTrash: refusing to trash '" << text << "'";
        return std::nullopt;
    }
    const auto directory = RealPath(slash == 0 ? "/" : path.substr(0, slash));
    if (!directory) {
        return std::nullopt;  // the parent is missing, so is the item
    }
    item.directory = *directory;
    item.absolute = Join(item.directory, item.name);
    item.directoryFd = UniqueFd(::open(item.directory.c_str(), kBaseDirectoryFlags));
    if (!item.directoryFd.Valid()) {
        return std::nullopt;
    }
    if (::fstatat(item.directoryFd.Get(), item.name.c_str(), &item.status, AT_SYMLINK_NOFOLLOW) !=
        0) {
        if (errno != ENOENT && errno != ENOTDIR) {
            LOG(WARNING) << "Vantor::Core::MoveToTrash: cannot inspect '" << item.absolute
                         << "': " << ErrnoText(errno);
        }
        return std::nullopt;
    }
    item.isDirectory = S_ISDIR(item.status.st_mode);
    return item;
}

std::optional<std::string> HomeDirectory() {
    if (const char* home = std::getenv("HOME"); home && home[0] == '/') {
        return std::string(home);
    }
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
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
    return UniqueFd(::openat(parentFd, name, kDirectoryFlags));
}

struct TrashDirectory {
    std::string path;    // canonical
    std::string topdir;  // empty for the home trash, whose Path lines are absolute
    UniqueFd files;
    UniqueFd info;
};

bool OpenContents(TrashDirectory& trash, int trashFd) {
    trash.files = OpenOrMakeDirectoryAt(trashFd, "files");
    trash.info = OpenOrMakeDirectoryAt(trashFd, "info");
    if (!trash.files.Valid() || !trash.info.Valid()) {
        LOG(WARNING) << "Vantor::Core::MoveToTrash: unusable trash directory '" << trash.path
                     << "': " << ErrnoText(errno);
        return false;
    }
    return true;
}

std::optional<TrashDirectory> OpenHomeTrash(const std::string& path) {
    if (!MakeDirectories(ParentOf(path)) || (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)) {
        LOG(WARNING) << "Vantor::Core::MoveToTrash: cannot create the trash '" << path
                     << "': " << ErrnoText(errno);
        return std::nullopt;
    }
    // O_NOFOLLOW: a trash that is a symbolic link could send the user's files anywhere.
    UniqueFd trashFd(::open(path.c_str(), kDirectoryFlags));
    if (!trashFd.Valid()) {
        LOG(WARNING) << "Vantor::Core::MoveToTrash: refusing the trash '" << path
                     << "': " << ErrnoText(errno);
        return std::nullopt;
    }
    TrashDirectory trash;
    trash.path = RealPath(path).value_or(path);
    if (!OpenContents(trash, trashFd.Get())) {
        return std::nullopt;
    }
    return trash;
}

bool IsOurs(int fd, uid_t uid) {
    struct stat status {};
    return ::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == uid;
}

// $topdir/.Trash/$uid when the administrator set up a shared, sticky .Trash; else
// $topdir/.Trash-$uid, which we may create but must own.
std::optional<TrashDirectory> OpenTopdirTrash(const std::string& topdir) {
    UniqueFd topFd(::open(topdir.c_str(), kBaseDirectoryFlags));
    if (!topFd.Valid()) {
        LOG(WARNING) << "Vantor::Core::MoveToTrash: cannot open '" << topdir
                     << "': " << ErrnoText(errno);
        return std::nullopt;
    }
    const uid_t uid = ::geteuid();
    const std::string uidText = std::to_string(uid);

    struct stat shared {};
    if (::fstatat(topFd.Get(), ".Trash", &shared, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISDIR(shared.st_mode) && (shared.st_mode & S_ISVTX) != 0) {
        UniqueFd sharedFd(::openat(topFd.Get(), ".Trash", kBaseDirectoryFlags));
        if (sharedFd.Valid()) {
            UniqueFd userFd = OpenOrMakeDirectoryAt(sharedFd.Get(), uidText.c_str());
            if (userFd.Valid() && IsOurs(userFd.Get(), uid)) {
                TrashDirectory trash;
                trash.path = Join(topdir, ".Trash/" + uidText);
                trash.topdir = topdir;
                if (OpenContents(trash, userFd.Get())) {
                    return trash;
                }
            }
        }
    }

    const std::string own = ".Trash-" + uidText;
    UniqueFd ownFd = OpenOrMakeDirectoryAt(topFd.Get(), own.c_str());
    if (!ownFd.Valid() || !IsOurs(ownFd.Get(), uid)) {
        LOG(WARNING) << "Vantor::Core::MoveToTrash: refusing the trash '" << Join(topdir, own)
                     << "': " << (ownFd.Valid() ? "not owned by us" : ErrnoText(errno));
        return std::nullopt;
    }
    TrashDirectory trash;
    trash.path = Join(topdir, own);
    trash.topdir = topdir;
    if (!OpenContents(trash, ownFd.Get())) {
        return std::nullopt;
    }
    return trash;
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

// Candidate names in files/: "clip.mkv", "clip.2.mkv", "clip.3.mkv"... A directory keeps its
// dots ("Recording 1.5" becomes "Recording 1.5.2"). Names are shortened so that
// NAME.trashinfo still fits into a directory entry.
class NameSequence {
public:
    NameSequence(const std::string& name, bool isDirectory, size_t nameMax) : nameMax_(nameMax) {
        const auto dot = name.find_last_of('.');
        if (!isDirectory && dot != std::string::npos && dot > 0 && name.size() - dot <= 32) {
            stem_ = name.substr(0, dot);
            extension_ = name.substr(dot);
        } else {
            stem_ = name;
        }
    }

    const std::string& Stem() const { return stem_; }
    const std::string& Extension() const { return extension_; }

    std::string Candidate(long number) const {
        const std::string suffix = number <= 1 ? "" : "." + std::to_string(number);
        const size_t budget = nameMax_ - kInfoSuffixLength;
        std::string stem = stem_;
        const size_t tail = suffix.size() + extension_.size();
        if (stem.size() + tail > budget) {
            size_t cut = budget > tail ? budget - tail : 1;
            // Do not cut a UTF-8 sequence in half.
            while (cut > 1 && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80) {
                --cut;
            }
            stem.resize(cut);
        }
        return stem + suffix + extension_;
    }

private:
    std::string stem_;
    std::string extension_;
    size_t nameMax_;
};

// The highest N of "STEM.N.EXT.trashinfo" in the info directory; 1 when there is none.
long HighestNumberInUse(int infoFd, const NameSequence& names) {
    UniqueFd listFd(::openat(infoFd, ".", kDirectoryFlags));
    if (!listFd.Valid()) {
        return 1;
    }
    DIR* listing = ::fdopendir(listFd.Get());
    if (!listing) {
        return 1;
    }
    listFd.Release();
    const std::string prefix = names.Stem() + ".";
    const std::string ending = names.Extension() + kInfoSuffix;
    long highest = 1;
    while (const dirent* entry = ::readdir(listing)) {
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
    ::closedir(listing);
    return highest;
}

bool WriteAll(int fd, const std::string& text) {
    size_t written = 0;
    while (written < text.size()) {
        const ssize_t result = ::write(fd, text.data() + written, text.size() - written);
        if (result < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        written += static_cast<size_t>(result);
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
        LOG(WARNING) << "Vantor::Core::MoveToTrash: " << what << " '" << path << "' for '"
                     << item_.absolute << "': " << ErrnoText(error);
        return Attempt::Failed;
    }

    const Item& item_;
    const TrashDirectory& trash_;
    const std::string info_;
};

bool Move(const Item& item, const TrashDirectory& trash) {
    if (IsSameOrInside(item.absolute, trash.path) || IsSameOrInside(trash.path, item.absolute)) {
        LOG(WARNING) << "Vantor::Core::MoveToTrash: refusing to trash '" << item.absolute
                     << "', it holds or is inside the trash '" << trash.path << "'";
        return false;
    }
    const std::string original =
        trash.topdir.empty()
            ? item.absolute
            : item.absolute.substr(trash.topdir == "/" ? 1 : trash.topdir.size() + 1);
    const std::string info = "[Trash Info]\nPath=" + PercentEncode(original) +
                             "\nDeletionDate=" + LocalDeletionDate() + "\n";

    const long nameMax = ::fpathconf(trash.info.Get(), _PC_NAME_MAX);
    const NameSequence names(item.name, item.isDirectory,
                             nameMax > static_cast<long>(kInfoSuffixLength) + 16
                                 ? static_cast<size_t>(nameMax)
                                 : NAME_MAX);
    TrashMove move(item, trash, info);
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
    LOG(WARNING) << "Vantor::Core::MoveToTrash: no free name in '" << trash.path << "' for '"
                 << item.absolute << "'";
    return false;
}

bool MoveToTrashImpl(const std::string& text) {
    const auto item = LocateItem(text);
    if (!item) {
        return false;
    }
    struct stat directoryStatus {};
    if (::fstat(item->directoryFd.Get(), &directoryStatus) != 0 ||
        directoryStatus.st_dev != item->status.st_dev) {
        LOG(WARNING) << "Vantor::Core::MoveToTrash: refusing to trash the mount point '"
                     << item->absolute << "'";
        return false;
    }
    const auto homeTrash = HomeTrashPath();
    if (!homeTrash) {
        LOG(WARNING) << "Vantor::Core::MoveToTrash: no home directory to keep the trash in";
        return false;
    }
    const auto homeDevice = DeviceOfNearestExisting(ParentOf(*homeTrash));
    if (!homeDevice) {
        LOG(WARNING) << "Vantor::Core::MoveToTrash: unusable place for the trash '" << *homeTrash
                     << "': " << ErrnoText(errno);
        return false;
    }
    std::optional<TrashDirectory> trash;
    if (*homeDevice == item->status.st_dev) {
        trash = OpenHomeTrash(*homeTrash);
    } else {
        trash = OpenTopdirTrash(FindTopdir(item->directory, item->status.st_dev));
    }
    return trash && Move(*item, *trash);
}

}  // namespace

bool MoveToTrash(const ioPath& path) {
    try {
        return MoveToTrashImpl(path.utf8string());
    } catch (const std::exception& error) {
        LOG(ERROR) << "Vantor::Core::MoveToTrash: " << error.what();
        return false;
    } catch (...) {
        LOG(ERROR) << "Vantor::Core::MoveToTrash: unknown failure";
        return false;
    }
}

}  // namespace Vantor::Core
