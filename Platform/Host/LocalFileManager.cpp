#include "Platform/Host/LocalFileManager.h"

#include <fcntl.h>
#include <stdio.h>  // renameat2
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include <glog/logging.h>
#include <boost/filesystem/operations.hpp>
#include <boost/system/error_code.hpp>

#include "Platform/Plinth/FileSystem.h"

namespace Vantor::Lumo {

namespace {

namespace fs = boost::filesystem;
namespace errc = boost::system::errc;

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

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

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

bool KernelCopyUnsupported(int error) {
    return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP ||
           error == EBADF;
}

// Reads one buffer from `in` and writes all of it to `out`; the bytes read, 0 at the end, or -1.
ssize_t CopyChunk(int in, int out, std::vector<char>& buffer) {
    buffer.resize(1 << 17);
    const ssize_t length = ::read(in, buffer.data(), buffer.size());
    for (ssize_t written = 0; written < length;) {
        const ssize_t step = ::write(out, buffer.data() + written, length - written);
        if (step < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        written += step;
    }
    return length;
}

// Copies a regular file's content into `to`, created with O_EXCL so nothing is ever
// overwritten. Boost 1.74's copy_file is not used: its copy_file_range fails with EXDEV between
// file systems on current kernels. Returns whether `to` was created.
bool CopyFile(const fs::path& from, const fs::path& to, boost::system::error_code& error) {
    const auto fail = [&error](bool created) {
        error.assign(errno, boost::system::system_category());
        return created;
    };
    FileDescriptor in(::open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat status {};
    if (in.get() < 0 || ::fstat(in.get(), &status) != 0) {
        return fail(false);
    }
    FileDescriptor out(
        ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, status.st_mode & 0777));
    if (out.get() < 0) {
        return fail(false);
    }
    bool kernelCopy = true;
    std::vector<char> buffer;
    for (;;) {
        ssize_t copied = 0;
        if (kernelCopy) {
            copied = ::copy_file_range(in.get(), nullptr, out.get(), nullptr, 1 << 30, 0);
            if (copied < 0 && KernelCopyUnsupported(errno)) {
                kernelCopy = false;  // carry on from the current offsets with reads and writes
                continue;
            }
        } else {
            copied = CopyChunk(in.get(), out.get(), buffer);
        }
        if (copied == 0) {
            break;
        }
        if (copied < 0 && errno != EINTR) {
            return fail(true);
        }
    }
    if (::close(out.release()) != 0) {
        return fail(true);
    }
    return true;
}

// Copies `from` to `to`, which must not exist yet; links are copied as links, never followed.
// Stops at the first failure. Returns whether `to` was created, so a failed copy can be undone.
bool CopyEntry(const fs::path& from, const fs::path& to, boost::system::error_code& error) {
    const fs::file_status status = fs::symlink_status(from, error);
    if (error) {
        return false;
    }
    switch (status.type()) {
        case fs::regular_file:
            return CopyFile(from, to, error);
        case fs::symlink_file:
            fs::copy_symlink(from, to, error);
            return !error;
        case fs::directory_file: {
            if (!fs::create_directory(to, error)) {
                if (!error) {
                    error = errc::make_error_code(errc::file_exists);
                }
                return false;
            }
            fs::directory_iterator it(from, error);
            for (const fs::directory_iterator end; !error && it != end;) {
                CopyEntry(it->path(), to / it->path().filename(), error);
                if (!error) {
                    it.increment(error);  // only after a success: it would clear the failure
                }
            }
            // Permissions last, so that a read-only source directory can still be filled.
            if (!error) {
                fs::permissions(to, status.permissions(), error);
            }
            return true;
        }
        default:
            // Sockets, pipes and devices have no content to copy.
            error = errc::make_error_code(errc::operation_not_supported);
            return false;
    }
}

bool RemoveCreated(const fs::path& path) {
    boost::system::error_code error;
    if (fs::is_directory(fs::symlink_status(path, error))) {
        return Core::RemoveDir(ioPath(path.string()));
    }
    return fs::remove(path, error);
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
        const bool created = CopyEntry(source, target, error);
        if (!error) {
            return true;
        }
        // The target did not exist before, so whatever is there now is an incomplete copy.
        if (created && !RemoveCreated(target)) {
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
