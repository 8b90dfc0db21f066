#include "tests/Support/StageFiles.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "tests/Support/ChildProcess.h"

namespace Vantor::Testing {

std::string Tail(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    std::string all = text.str();
    constexpr std::size_t kKeep = 600;
    return all.size() > kKeep ? "..." + all.substr(all.size() - kKeep) : all;
}

void Require(const std::string& program, const std::string& package) {
    if (FindProgram(program).empty()) {
        throw std::runtime_error("'" + program + "' is not installed (Debian package " + package +
                                 "; scripts/install-deps.sh installs it)");
    }
}

std::string MakeScratch() {
    const char* base = std::getenv("TMPDIR");
    std::string root = base && *base ? base : "/tmp";
    if (root.size() > 60) {
        root = "/tmp";
    }
    std::string pattern = root + "/lumo-stage-XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        throw std::runtime_error("cannot create a scratch directory in " + root + ": " +
                                 std::strerror(errno));
    }
    return pattern;
}

bool CanConnect(const std::string& socketPath) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    const bool connected =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

}  // namespace Vantor::Testing
