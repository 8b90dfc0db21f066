#include "Recorder/Sources/Wayland/RestoreToken.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include <glog/logging.h>

namespace Vantor::Lumo::Recorder {

namespace {

// A token is a short printable word; anything else in the file is damage.
constexpr std::size_t kLongestToken = 256;

// mkdir -p with the given mode for the directories it makes.
bool MakeDirectories(const std::string& path, mode_t mode) {
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (::mkdir(part.c_str(), mode) != 0 && errno != EEXIST) {
            return false;
        }
        if (slash == std::string::npos) {
            return true;
        }
    }
}

}  // namespace

std::string RestoreTokenPath() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && *state == '/') {
        return std::string(state) + "/lumo/screencast-token";
    }
    const char* home = std::getenv("HOME");
    if (home && *home == '/') {
        return std::string(home) + "/.local/state/lumo/screencast-token";
    }
    return {};
}

std::optional<std::string> LoadRestoreToken() {
    const std::string path = RestoreTokenPath();
    if (path.empty()) {
        return std::nullopt;
    }
    std::ifstream file(path);
    std::string token;
    if (!std::getline(file, token) || token.empty() || token.size() > kLongestToken) {
        return std::nullopt;
    }
    return token;
}

void SaveRestoreToken(const std::string& token) {
    const std::string path = RestoreTokenPath();
    if (path.empty()) {
        return;
    }
    const std::string folder = path.substr(0, path.rfind('/'));
    const std::string temporary = path + ".new";
    // Written aside and renamed, so a recording killed meanwhile leaves the old token whole.
    const int fd = MakeDirectories(folder, 0700)
                       ? ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600)
                       : -1;
    const std::string line = token + "\n";
    const bool written = fd >= 0 && ::fchmod(fd, 0600) == 0 &&
                         ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    if (fd >= 0) {
        ::close(fd);
    }
    if (!written || std::rename(temporary.c_str(), path.c_str()) != 0) {
        LOG(WARNING) << "lumo: can not keep the screen-cast permission in " << path << ": "
                     << std::strerror(errno);
        ::unlink(temporary.c_str());
    }
}

void ForgetRestoreToken() {
    const std::string path = RestoreTokenPath();
    if (!path.empty()) {
        ::unlink(path.c_str());
    }
}

}  // namespace Vantor::Lumo::Recorder
