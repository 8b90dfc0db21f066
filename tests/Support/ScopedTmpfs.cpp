#include "tests/Support/ScopedTmpfs.h"

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace Vantor::Testing {

ScopedTmpfs::ScopedTmpfs(std::string directory) : directory_(std::move(directory)) {
    ::mkdir(directory_.c_str(), 0755);
    mounted_ = ::geteuid() == 0 && ::mount("lumo-test", directory_.c_str(), "tmpfs",
                                           MS_NOSUID | MS_NODEV, "size=16m,mode=0755") == 0;
}

ScopedTmpfs::~ScopedTmpfs() {
    if (mounted_) {
        ::umount2(directory_.c_str(), MNT_DETACH);
    }
}

int RunInPrivateMounts(int (*body)(void*), void* argument) {
    const pid_t child = ::fork();
    if (child < 0) {
        return -1;
    }
    if (child == 0) {
        // Private propagation, or our mounts would show through the shared root.
        const bool ready = ::unshare(CLONE_NEWNS) == 0 &&
                           ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
        ::_exit(ready ? body(argument) : 255);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace Vantor::Testing
