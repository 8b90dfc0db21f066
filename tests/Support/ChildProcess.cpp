#include "tests/Support/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace Vantor::Testing {

namespace {

bool IsExecutable(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

double Seconds(const timeval& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) * 1e-6;
}

// Only async-signal-safe calls between fork and exec.
[[noreturn]] void RunChild(pid_t parent, const char* path, char* const* argv, char* const* envp,
                           const char* outPath, const char* errPath, int inheritedFd) {
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) {
        ::_exit(127);
    }
    // A shell without job control starts us with SIGINT ignored, and the child would inherit it.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    for (int signal : {SIGINT, SIGTERM, SIGQUIT, SIGPIPE}) {
        ::sigaction(signal, &fallback, nullptr);
    }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);

    const int input = ::open("/dev/null", O_RDONLY);
    const int out = ::open(outPath, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(errPath, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (input < 0 || out < 0 || err < 0) {
        ::_exit(127);
    }
    ::dup2(input, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    if (inheritedFd >= 0) {
        ::fcntl(inheritedFd, F_SETFD, 0);
    }
    ::execve(path, argv, envp);
    ::_exit(127);
}

}  // namespace

std::string FindProgram(const std::string& program) {
    if (program.find('/') != std::string::npos) {
        return IsExecutable(program) ? program : std::string();
    }
    const char* path = std::getenv("PATH");
    std::string directories = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= directories.size()) {
        std::size_t end = directories.find(':', start);
        if (end == std::string::npos) {
            end = directories.size();
        }
        const std::string directory = directories.substr(start, end - start);
        const std::string candidate = (directory.empty() ? "." : directory) + "/" + program;
        if (IsExecutable(candidate)) {
            return candidate;
        }
        start = end + 1;
    }
    return {};
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const ChildOptions& options)
    : program_(argv.empty() ? std::string() : argv[0]) {
    if (argv.empty()) {
        throw std::invalid_argument("a child process needs a program");
    }
    const std::string path = FindProgram(argv[0]);
    if (path.empty()) {
        throw std::runtime_error("cannot start '" + argv[0] + "': not found in PATH");
    }

    // Everything the child needs is built before fork.
    std::vector<std::string> words = argv;
    std::vector<char*> childArgv;
    for (std::string& word : words) {
        childArgv.push_back(word.data());
    }
    childArgv.push_back(nullptr);
    std::map<std::string, std::string> variables;
    for (char** entry = environ; *entry; ++entry) {
        const char* equals = std::strchr(*entry, '=');
        if (equals) {
            variables[std::string(static_cast<const char*>(*entry), equals)] = equals + 1;
        }
    }
    for (const auto& [name, value] : options.environment) {
        variables[name] = value;
    }
    std::vector<std::string> assignments;
    for (const auto& [name, value] : variables) {
        assignments.push_back(name + "=" + value);
    }
    std::vector<char*> childEnvp;
    for (std::string& assignment : assignments) {
        childEnvp.push_back(assignment.data());
    }
    childEnvp.push_back(nullptr);
    const std::string outPath = options.stdoutPath.empty() ? "/dev/null" : options.stdoutPath;
    const std::string errPath = options.stderrPath.empty() ? "/dev/null" : options.stderrPath;

    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ < 0) {
        throw std::runtime_error("cannot start '" + program_ + "': " + std::strerror(errno));
    }
    if (pid_ == 0) {
        RunChild(parent, path.c_str(), childArgv.data(), childEnvp.data(), outPath.c_str(),
                 errPath.c_str(), options.inheritedFd);
    }
    // Also from here, so that a signal to the group cannot race the child's own setpgid.
    ::setpgid(pid_, pid_);
}

ChildProcess::~ChildProcess() {
    Stop();
}

void ChildProcess::Signal(int signal) const {
    if (!exit_) {
        ::kill(pid_, signal);
    }
}

std::optional<ChildExit> ChildProcess::Reap(bool block) {
    if (exit_) {
        return exit_;
    }
    int status = 0;
    rusage usage{};
    pid_t got = 0;
    do {
        got = ::wait4(pid_, &status, block ? 0 : WNOHANG, &usage);
    } while (got < 0 && errno == EINTR);
    if (got != pid_) {
        return std::nullopt;
    }
    ChildExit exit;
    exit.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    exit.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    exit.cpuSeconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    exit_ = exit;
    return exit_;
}

std::optional<ChildExit> ChildProcess::WaitFor(double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (true) {
        if (auto exit = Reap(false)) {
            return exit;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

ChildExit ChildProcess::Stop(double graceSeconds) {
    if (!exit_) {
        ::killpg(pid_, SIGTERM);
        if (!WaitFor(graceSeconds)) {
            ::killpg(pid_, SIGKILL);
            if (!Reap(true)) {
                exit_ = ChildExit{};  // reaped elsewhere: nothing more to learn
            }
        }
    }
    // Whatever the program itself started and left in its group.
    ::killpg(pid_, SIGKILL);
    return *exit_;
}

}  // namespace Vantor::Testing
