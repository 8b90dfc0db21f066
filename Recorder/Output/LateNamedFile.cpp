#include "Recorder/Output/LateNamedFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <glog/logging.h>
#include <boost/filesystem/path.hpp>

namespace Vantor::Lumo::Recorder {

namespace {

// Names tried before giving up: far more than any number of recorders started at once.
constexpr int kNameAttempts = 1000;

std::runtime_error Failure(const std::string& what, const std::string& path) {
    return std::runtime_error("can not " + what + " '" + path + "': " + std::strerror(errno));
}

std::string DirectoryOf(const std::string& path) {
    const std::string parent = boost::filesystem::path(path).parent_path().string();
    return parent.empty() ? "." : parent;
}

}  // namespace

LateNamedFile::LateNamedFile(const std::string& path, NextName nextName)
    : path_(path), nextName_(std::move(nextName)) {
    fd_ = open(DirectoryOf(path_).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (fd_ >= 0) {
        return;
    }
    // EISDIR and ENOENT come from kernels that predate O_TMPFILE, EOPNOTSUPP from file systems
    // without it.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT) {
        throw Failure("create a file beside", path_);
    }
    VLOG(1) << "lumo: no unnamed files in " << DirectoryOf(path_) << "; " << path_
            << " is named from its first byte";
    for (int attempt = 0; fd_ < 0; ++attempt) {
        fd_ = open(path_.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0666);
        if (fd_ < 0 && (errno != EEXIST || attempt >= kNameAttempts || !nextName_)) {
            throw Failure("create", path_);
        }
        if (fd_ < 0) {
            path_ = nextName_(path_);
        }
    }
    named_ = true;
}

LateNamedFile::~LateNamedFile() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

void LateNamedFile::Name() {
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    for (int attempt = 0; !named_; ++attempt) {
        if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path_.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            named_ = true;
        } else if (errno != EEXIST || attempt >= kNameAttempts || !nextName_) {
            throw Failure("name the recording", path_);
        } else {
            path_ = nextName_(path_);
        }
    }
}

void LateNamedFile::Discard() {
    if (named_ && unlink(path_.c_str()) != 0 && errno != ENOENT) {
        LOG(WARNING) << "lumo: can not remove '" << path_ << "': " << std::strerror(errno);
    }
    named_ = false;
}

}  // namespace Vantor::Lumo::Recorder
