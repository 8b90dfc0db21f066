// lumo-bench-spawn COMMAND [ARGUMENT...]
//
// Runs COMMAND once, its input from /dev/null and its output thrown away, and prints
// "WALL_NANOSECONDS PEAK_RSS_KIB EXIT_STATUS". The kernel starts a child's ru_maxrss from the
// memory of the process that forked it, so a benchmark that has FFmpeg loaded would add its
// own size to every figure; this process is small enough not to matter.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

long long Nanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s COMMAND [ARGUMENT...]\n", argv[0]);
        return 2;
    }
    const long long start = Nanoseconds();
    const pid_t child = fork();
    if (child < 0) {
        std::fprintf(stderr, "%s: fork: %s\n", argv[0], std::strerror(errno));
        return 1;
    }
    if (child == 0) {
        const int null = open("/dev/null", O_RDWR);
        if (null >= 0) {
            dup2(null, 0);
            dup2(null, 1);
            dup2(null, 2);
        }
        execv(argv[1], argv + 1);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    while (wait4(child, &status, 0, &usage) < 0) {
        if (errno != EINTR) {
            std::fprintf(stderr, "%s: wait4: %s\n", argv[0], std::strerror(errno));
            return 1;
        }
    }
    const long long wall = Nanoseconds() - start;
    const int exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::printf("%lld %ld %d\n", wall, usage.ru_maxrss, exitStatus);
    return 0;
}
