#include "bench/Support/ScratchDirectory.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <system_error>
#include <vector>

#include "App/IPC/LumoIntegration/FormatFile.h"

namespace Vantor::Bench {

namespace {

[[noreturn]] void ThrowErrno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

ScratchDirectory::ScratchDirectory(const std::string& label) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base && base[0] ? base : "/tmp") + "/lumo-bench-" + label + "-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) == nullptr) {
        ThrowErrno("cannot create a scratch directory from '" + pattern + "'");
    }
    path_ = buffer.data();
}

ScratchDirectory::~ScratchDirectory() {
    std::error_code error;
    std::filesystem::remove_all(path_, error);
    if (error) {
        std::cerr << "warning: cannot remove the scratch directory '" << path_
                  << "': " << error.message() << '\n';
    }
}

void MakeDirectory(const std::string& path) {
    std::error_code error;
    std::filesystem::create_directories(path, error);
    if (error) {
        throw std::system_error(error, "cannot create the directory '" + path + "'");
    }
}

void MakeFileOfSize(const std::string& path, long long size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        ThrowErrno("cannot create '" + path + "'");
    }
    if (size > 0 && ::ftruncate(fd, size) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        ThrowErrno("cannot size '" + path + "'");
    }
    ::close(fd);
}

void FlushFileSystem(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        ThrowErrno("cannot open '" + path + "'");
    }
    ::syncfs(fd);
    ::close(fd);
}

std::string RecordingDocument() {
    Lumoreel::FormatFile::StreamInfo screen;
    screen.type = MediaType::Video;
    screen.group = "screen";
    Lumoreel::FormatFile::StreamInfo mic;
    mic.type = MediaType::Audio;
    mic.group = "mic";
    return Lumoreel::FormatFile::StreamInfoToString({screen, mic});
}

}  // namespace Vantor::Bench
