#include "Platform/Host/CopyEngine.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include <boost/filesystem/operations.hpp>

#include "Platform/Plinth/Descriptors.h"
#include "Platform/Plinth/FileSystem.h"

namespace Vantor::Detail {

namespace {

namespace fs = boost::filesystem;
namespace errc = boost::system::errc;

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
    UniqueFd in(::open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat status {};
    if (in.Get() < 0 || ::fstat(in.Get(), &status) != 0) {
        return fail(false);
    }
    UniqueFd out(
        ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, status.st_mode & 0777));
    if (out.Get() < 0) {
        return fail(false);
    }
    bool kernelCopy = true;
    std::vector<char> buffer;
    for (;;) {
        ssize_t copied = 0;
        if (kernelCopy) {
            copied = ::copy_file_range(in.Get(), nullptr, out.Get(), nullptr, 1 << 30, 0);
            if (copied < 0 && KernelCopyUnsupported(errno)) {
                kernelCopy = false;  // carry on from the current offsets with reads and writes
                continue;
            }
        } else {
            copied = CopyChunk(in.Get(), out.Get(), buffer);
        }
        if (copied == 0) {
            break;
        }
        if (copied < 0 && errno != EINTR) {
            return fail(true);
        }
    }
    if (::close(out.Release()) != 0) {
        return fail(true);
    }
    return true;
}

}  // namespace

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

}  // namespace Vantor::Detail
