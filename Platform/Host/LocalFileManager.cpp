#include "Platform/Host/LocalFileManager.h"

#include <fcntl.h>
#include <stdio.h>  // renameat2
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <exception>
#include <string>

#include <glog/logging.h>
#include <boost/filesystem/operations.hpp>
#include <boost/system/error_code.hpp>

#include "Platform/Host/CopyEngine.h"
#include "Platform/Plinth/FileSystem.h"

namespace Vantor::Lumo {

namespace {

namespace fs = boost::filesystem;

// A false answer carries no reason, so the reason goes to the log.
bool Refuse(const char* operation, const ioPath& path, const boost::system::error_code& error) {
    LOG(WARNING) << "LocalFileManager: cannot " << operation << " '" << path.utf8string()
                 << "': " << error.message();
    return false;
}

bool Refuse(const char* operation, const ioPath& path, int error) {
    return Refuse(operation, path,
                  boost::system::error_code(error, boost::system::system_category()));
}

// Runs `body`, turning anything it throws into false: none of these operations may throw.
template <class Body>
bool NoThrow(const char* operation, Body&& body) noexcept {
    try {
        return body();
    } catch (const std::exception& error) {
        LOG(WARNING) << "LocalFileManager: cannot " << operation << ": " << error.what();
    } catch (...) {
        LOG(WARNING) << "LocalFileManager: cannot " << operation << ": unknown failure";
    }
    return false;
}

bool ExistsWithoutFollowing(const fs::path& path) {
    boost::system::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

// True when `inner` is `outer` or lies below it, after resolving links and dot components.
bool IsSameOrBelow(const fs::path& inner, const fs::path& outer) {
    boost::system::error_code error;
    const fs::path resolvedInner = fs::weakly_canonical(inner, error);
    if (error) {
        return false;
    }
    const fs::path resolvedOuter = fs::weakly_canonical(outer, error);
    if (error) {
        return false;
    }
    auto innerPart = resolvedInner.begin();
    for (const fs::path& outerPart : resolvedOuter) {
        if (innerPart == resolvedInner.end() || *innerPart != outerPart) {
            return false;
        }
        ++innerPart;
    }
    return true;
}

}  // namespace

bool LocalFileManager::Copy(const ioPath& from, const ioPath& to) {
    return NoThrow("copy", [&] {
        const fs::path source(from.utf8string());
        const fs::path target(to.utf8string());
        if (ExistsWithoutFollowing(target)) {
            return Refuse("copy onto", to, EEXIST);
        }
        boost::system::error_code sourceError;
        if (fs::is_directory(fs::symlink_status(source, sourceError)) &&
            IsSameOrBelow(target, source)) {
            return Refuse("copy a directory into itself", from, EINVAL);
        }
        boost::system::error_code error;
        const bool created = Detail::CopyEntry(source, target, error);
        if (!error) {
            return true;
        }
        // The target did not exist before, so whatever is there now is an incomplete copy.
        if (created && !Detail::RemoveCreated(target)) {
            LOG(WARNING) << "LocalFileManager: cannot remove the incomplete copy '"
                         << to.utf8string() << "'";
        }
        LOG(WARNING) << "LocalFileManager: cannot copy '" << from.utf8string() << "' to '"
                     << to.utf8string() << "': " << error.message();
        return false;
    });
}

bool LocalFileManager::Move(const ioPath& from, const ioPath& to) {
    return NoThrow("move", [&] {
        const std::string source = from.utf8string();
        const std::string target = to.utf8string();
        if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) ==
            0) {
            return true;
        }
        int error = errno;
        if (error == EINVAL || error == ENOSYS) {
            // The file system may not know RENAME_NOREPLACE; check by hand, then rename.
            struct stat status {};
            if (::lstat(target.c_str(), &status) == 0) {
                return Refuse("move onto", to, EEXIST);
            }
            if (::rename(source.c_str(), target.c_str()) == 0) {
                return true;
            }
            error = errno;
        }
        if (error != EXDEV) {
            return Refuse("move", from, error);
        }
        // Another device: copy, then remove the source. A source that cannot be removed stays
        // beside its complete copy, so nothing is lost either way.
        if (!Copy(from, to)) {
            return false;
        }
        if (!Remove(from)) {
            LOG(WARNING) << "LocalFileManager: '" << from.utf8string() << "' was copied to '"
                         << to.utf8string() << "' but stays in place";
            return false;
        }
        return true;
    });
}

bool LocalFileManager::IsFile(const ioPath& path) {
    return NoThrow("inspect", [&] {
        boost::system::error_code error;
        return fs::is_regular_file(fs::status(path.utf8string(), error));
    });
}

bool LocalFileManager::IsDirectory(const ioPath& path) {
    return NoThrow("inspect", [&] {
        boost::system::error_code error;
        return fs::is_directory(fs::status(path.utf8string(), error));
    });
}

bool LocalFileManager::MoveToTrash(const ioPath& path) {
    return NoThrow("move to the trash", [&] { return Core::MoveToTrash(path); });
}

bool LocalFileManager::Remove(const ioPath& path) {
    return NoThrow("remove", [&] {
        const std::string native = path.utf8string();
        struct stat status {};
        if (::lstat(native.c_str(), &status) != 0) {
            return Refuse("remove", path, errno);
        }
        if (S_ISDIR(status.st_mode)) {
            return Core::RemoveDir(path);
        }
        // A link goes, never what it points to.
        if (::unlink(native.c_str()) != 0) {
            return Refuse("remove", path, errno);
        }
        return true;
    });
}

bool LocalFileManager::Exists(const ioPath& path) {
    return NoThrow("inspect", [&] {
        // A dangling link is still something at the path.
        return ExistsWithoutFollowing(path.utf8string());
    });
}

bool LocalFileManager::CreateDirectory(const ioPath& path) {
    return NoThrow("create the directory", [&] {
        const fs::path native(path.utf8string());
        if (native.empty()) {
            return Refuse("create the directory", path, EINVAL);
        }
        boost::system::error_code error;
        fs::create_directories(native, error);
        boost::system::error_code statusError;
        if (fs::is_directory(fs::status(native, statusError))) {
            return true;
        }
        return Refuse("create the directory", path, error ? error : statusError);
    });
}

}  // namespace Vantor::Lumo
