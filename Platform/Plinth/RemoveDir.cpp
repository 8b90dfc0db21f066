// Deleting a directory tree (or a single file or link) from disk.

#include <sys/stat.h>

#include <glog/logging.h>
#include <boost/filesystem/operations.hpp>

#include "Platform/Plinth/FileSystem.h"

namespace Vantor::Core {

bool RemoveDir(const ioPath& path) {
    try {
        std::string text = path.utf8string();
        // "link/" would name the directory behind the link, and remove_all would empty it.
        while (text.size() > 1 && text.back() == '/') {
            text.pop_back();
        }
        if (text.empty()) {
            return false;
        }
        const std::string name = text.substr(text.find_last_of('/') + 1);
        if (name == "." || name == ".." || text == "/") {
            LOG(WARNING) << "Vantor::Core::RemoveDir: refusing to remove '" << path.utf8string()
                         << "'";
            return false;
        }
        struct stat status {};
        // lstat: a link at the path is itself what gets removed.
        if (::lstat(text.c_str(), &status) != 0) {
            return false;
        }
        // remove_all looks at every entry with symlink_status, so links are unlinked and the
        // trees they point to are never entered.
        boost::system::error_code error;
        boost::filesystem::remove_all(text, error);
        if (error) {
            LOG(WARNING) << "Vantor::Core::RemoveDir: cannot remove '" << text
                         << "': " << error.message();
            return false;
        }
        return true;
    } catch (const std::exception& error) {
        LOG(ERROR) << "Vantor::Core::RemoveDir: " << error.what();
        return false;
    }
}

}  // namespace Vantor::Core
