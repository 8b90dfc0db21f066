// Moving files and directories to the freedesktop.org trash (Trash specification 1.0). The
// steps live in the Trash*.cpp files beside this one (TrashParts.h).

#include <exception>

#include <glog/logging.h>

#include "Platform/Plinth/FileSystem.h"
#include "Platform/Plinth/TrashParts.h"

namespace Vantor::Core {

namespace {

bool MoveToTrashAt(const std::string& text) {
    const auto item = Trash::LocateItem(text);
    if (!item) {
        return false;
    }
    struct stat directoryStatus {};
    if (::fstat(item->directoryFd.Get(), &directoryStatus) != 0 ||
        directoryStatus.st_dev != item->status.st_dev) {
        LOG(WARNING) << Trash::kLog << "refusing to trash the mount point '" << item->absolute
                     << "'";
        return false;
    }
    const auto trash = Trash::OpenTrashFor(item->status.st_dev, item->directory);
    return trash && Trash::MoveIntoTrash(*item, *trash);
}

}  // namespace

bool MoveToTrash(const ioPath& path) {
    try {
        return MoveToTrashAt(path.utf8string());
    } catch (const std::exception& error) {
        LOG(ERROR) << Trash::kLog << error.what();
        return false;
    } catch (...) {
        LOG(ERROR) << Trash::kLog << "unknown failure";
        return false;
    }
}

}  // namespace Vantor::Core
