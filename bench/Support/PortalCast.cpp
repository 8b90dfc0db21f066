// Runs a command on a screen cast of its own, as a GStreamer user would script it: the portal
// handshake, then the command with the PipeWire connection inherited and "{fd}" and "{node}" in
// its arguments replaced. SIGINT and SIGTERM go on to the command; the session closes once it
// ends, and its exit status is ours.
// Usage: lumo-bench-portal-cast -- gst-launch-1.0 -e pipewiresrc fd={fd} path={node} ! ...

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "Recorder/Sources/Wayland/ScreenCastPortal.h"

namespace {

std::string Replace(std::string text, const std::string& name, const std::string& value) {
    for (auto at = text.find(name); at != std::string::npos; at = text.find(name, at)) {
        text.replace(at, name.size(), value);
        at += value.size();
    }
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || std::strcmp(argv[1], "--") != 0) {
        std::fprintf(stderr, "usage: lumo-bench-portal-cast -- COMMAND ARGS...\n");
        return 2;
    }
    // Blocked until the command runs, then taken by sigwait and passed on.
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGCHLD);
    sigprocmask(SIG_BLOCK, &stops, nullptr);
    try {
        const Vantor::Lumo::Recorder::CastSession session({});
        const int fd = session.PipeWireFd();
        ::fcntl(fd, F_SETFD, 0);
        std::vector<std::string> words;
        for (int i = 2; i < argc; ++i) {
            words.push_back(Replace(Replace(argv[i], "{fd}", std::to_string(fd)), "{node}",
                                    std::to_string(session.Node())));
        }
        const pid_t child = ::fork();
        if (child == 0) {
            sigprocmask(SIG_UNBLOCK, &stops, nullptr);
            std::vector<char*> args;
            for (std::string& word : words) {
                args.push_back(word.data());
            }
            args.push_back(nullptr);
            ::execvp(args[0], args.data());
            std::perror(args[0]);
            ::_exit(127);
        }
        for (;;) {
            int signal = 0;
            sigwait(&stops, &signal);
            int status = 0;
            if (signal != SIGCHLD) {
                ::kill(child, signal);
            } else if (::waitpid(child, &status, WNOHANG) == child) {
                return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
            }
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "lumo-bench-portal-cast: %s\n", error.what());
        return 1;
    }
}
