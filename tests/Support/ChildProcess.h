#pragma once

// Programs that suites and benchmarks start and must not leave behind: each runs in a process
// group of its own, which is killed when the object dies, and the kernel kills it too should
// the thread that started it die first. Nothing here depends on GoogleTest.

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace Vantor::Testing {

struct ChildOptions {
    std::map<std::string, std::string> environment;  // set in the child over ours
    std::string stdoutPath;                          // empty: /dev/null
    std::string stderrPath;                          // empty: /dev/null
    int inheritedFd = -1;  // one descriptor of ours the child keeps under its number
};

struct ChildExit {
    int status = -1;          // the exit status, or -1 when a signal ended it
    int signal = 0;           // the signal that ended it, or 0
    double cpuSeconds = 0.0;  // user + system time, its waited-for descendants included
};

// The full path of `program` found in PATH (or `program` itself when it holds a '/' and
// exists); empty when there is none.
std::string FindProgram(const std::string& program);

class ChildProcess {
public:
    // Starts argv[0] (looked up in PATH), its input from /dev/null. Throws std::runtime_error
    // naming the program when it is not installed or cannot be started.
    explicit ChildProcess(const std::vector<std::string>& argv, const ChildOptions& options = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return pid_; }
    // Sends `signal` to the program itself (not its group); nothing once it has been reaped.
    void Signal(int signal) const;
    // Its exit, or nullopt when it still runs after `seconds`.
    std::optional<ChildExit> WaitFor(double seconds);
    // SIGTERM to the whole group, SIGKILL once `graceSeconds` have passed, then reaps it.
    // Answers how it ended.
    ChildExit Stop(double graceSeconds = 2.0);

private:
    std::optional<ChildExit> Reap(bool block);

    pid_t pid_ = -1;
    std::string program_;
    std::optional<ChildExit> exit_;
};

}  // namespace Vantor::Testing
