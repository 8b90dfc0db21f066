// Locating the item to trash: its canonical directory, held open, and its own name.

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

#include <glog/logging.h>

#include "Platform/Plinth/PathText.h"
#include "Platform/Plinth/TrashParts.h"

namespace Vantor::Core::Trash {

using Detail::ErrnoText;

std::optional<Item> LocateItem(const std::string& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    std::string path = Detail::WithoutTrailingSlashes(text);
    if (path.front() != '/') {
        std::unique_ptr<char, decltype(&std::free)> cwd(::getcwd(nullptr, 0), &std::free);
        if (!cwd) {
            LOG(WARNING) << kLog << "no current directory for '" << text
                         << "': " << ErrnoText(errno);
            return std::nullopt;
        }
        path = Detail::Join(cwd.get(), path);
    }
    const auto slash = path.find_last_of('/');
    Item item;
    item.name = path.substr(slash + 1);
    if (item.name.empty() || item.name == "." || item.name == "..") {
        LOG(WARNING) << kLog << "refusing to trash '" << text << "'";
        return std::nullopt;
    }
    const auto directory = Detail::RealPath(slash == 0 ? "/" : path.substr(0, slash));
    if (!directory) {
        return std::nullopt;  // the parent is missing, so is the item
    }
    item.directory = *directory;
    item.absolute = Detail::Join(item.directory, item.name);
    item.directoryFd =
        Detail::UniqueFd(::open(item.directory.c_str(), Detail::kBaseDirectoryFlags));
    if (!item.directoryFd.Valid()) {
        return std::nullopt;
    }
    if (::fstatat(item.directoryFd.Get(), item.name.c_str(), &item.status, AT_SYMLINK_NOFOLLOW) !=
        0) {
        if (errno != ENOENT && errno != ENOTDIR) {
            LOG(WARNING) << kLog << "cannot inspect '" << item.absolute
                         << "': " << ErrnoText(errno);
        }
        return std::nullopt;
    }
    item.isDirectory = S_ISDIR(item.status.st_mode);
    return item;
}

}  // namespace Vantor::Core::Trash
