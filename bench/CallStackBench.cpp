// The cost of a library failure, whose exception carries the call stack as text. The first one in
// a process is measured in fresh processes (this program started again in a child mode), beside
// the same process throwing a plain std::runtime_error instead; later ones side by side with a
// plain throw and catch, at the same depth.

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "Lib/Project/FolderProject.h"
#include "Platform/Plinth/ThrowWithCallStack.h"
#include "bench/Support/BenchSession.h"
#ifdef LUMO_BENCH_LIBDW
#include "bench/Support/LibdwCallStack.h"
#endif
#include "bench/Support/SideBySide.h"

extern char** environ;

namespace {

using namespace Vantor;
using Bench::Figure;
using Bench::Goal;
using Clock = std::chrono::steady_clock;

constexpr char kFirst[] = "First failure in a fresh process";
constexpr char kFirstLibdw[] = "First failure in a fresh process, libdw";
constexpr char kLater[] = "Later failure 16 frames deep";
constexpr char kChildFlag[] = "--fresh-process=";
constexpr char kLibraryChild[] = "library";
constexpr char kAnchorChild[] = "anchor";
constexpr char kLibdwChild[] = "libdw";
constexpr int kDepth = 16;

// Runs `fail` from `depth` frames further down, like a failure deep inside a caller's work, and
// catches what it throws.
template <class Fail>
[[gnu::noinline]] std::size_t FailAndCatch(int depth, const Fail& fail) {
    if (depth > 0) {
        const std::size_t length = FailAndCatch(depth - 1, fail);
        benchmark::DoNotOptimize(length);
        return length;
    }
    try {
        fail();
    } catch (const std::exception& error) {
        return std::strlen(error.what());
    }
    return 0;
}

// The library's own way to fail: the message, a line feed and the call stack.
void LibraryFailure() {
    LUMO_THROW_MESSAGE(std::domain_error, "Description error: unsupported stream type");
}

void PlainFailure() {
    throw std::runtime_error("Description error: unsupported stream type");
}

#ifdef LUMO_BENCH_LIBDW
// The library's failure as it would be with libdw naming the frames.
void LibdwFailure() {
    throw std::domain_error(std::string("Description error: unsupported stream type\n") +
                            Bench::LibdwCallStack());
}
#endif

// A number from /proc/self/status, e.g. "VmHWM", in KiB.
long StatusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    const std::string prefix = std::string(field) + ":";
    for (std::string line; std::getline(status, line);) {
        if (line.compare(0, prefix.size(), prefix) == 0) {
            return std::stol(line.substr(prefix.size()));
        }
    }
    return 0;
}

// The child: its first failure, timed, and its memory around it, as one line on stdout. The
// library's failure is a real one: opening a folder project that is not there, which also logs.
int FreshProcess(const std::string& kind) {
    const std::string missing = "/nonexistent/lumo-bench/KorvelProject1";
    const long residentBefore = StatusKiB("VmRSS");
    const auto start = Clock::now();
    std::size_t length = 0;
    if (kind == kLibraryChild) {
        length = FailAndCatch(kDepth, [&] { Lumo::FolderProject::OpenProject(missing, ""); });
#ifdef LUMO_BENCH_LIBDW
    } else if (kind == kLibdwChild) {
        length = FailAndCatch(kDepth, &LibdwFailure);
#endif
    } else {
        length = FailAndCatch(kDepth, &PlainFailure);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    benchmark::DoNotOptimize(length);
    std::printf("%.9f %ld %ld %ld\n", seconds, StatusKiB("VmRSS") - residentBefore,
                StatusKiB("VmHWM"), length);
    return 0;
}

struct FreshFigures {
    double seconds = 0.0;
    double residentGrowthMiB = 0.0;
    double peakMiB = 0.0;
};

// Starts this program again in child mode `kind` and reads its line. Throws std::runtime_error.
FreshFigures RunFreshProcess(const char* kind) {
    std::array<char, 4096> self{};
    if (::readlink("/proc/self/exe", self.data(), self.size() - 1) <= 0) {
        throw std::system_error(errno, std::generic_category(), "readlink /proc/self/exe");
    }
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) {
        throw std::system_error(errno, std::generic_category(), "pipe2");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe[1], STDOUT_FILENO);
    // The library's log line goes nowhere: no console time in the figure.
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const std::string flag = std::string(kChildFlag) + kind;
    char* arguments[] = {self.data(), const_cast<char*>(flag.c_str()), nullptr};
    pid_t child = 0;
    const int spawned = posix_spawn(&child, self.data(), &actions, nullptr, arguments, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe[1]);
    std::string output;
    char buffer[256];
    for (ssize_t got; (got = ::read(pipe[0], buffer, sizeof buffer)) != 0;) {
        if (got < 0 && errno != EINTR) {
            break;
        }
        output.append(buffer, static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
    }
    ::close(pipe[0]);
    int status = 0;
    if (spawned != 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        throw std::runtime_error(std::string("the ") + kind + " child failed");
    }
    FreshFigures figures;
    long growthKiB = 0;
    long peakKiB = 0;
    long length = 0;
    if (std::sscanf(output.c_str(), "%lf %ld %ld %ld", &figures.seconds, &growthKiB, &peakKiB,
                    &length) != 4 ||
        length == 0) {
        throw std::runtime_error(std::string("the ") + kind + " child said '" + output + "'");
    }
    figures.residentGrowthMiB = static_cast<double>(growthKiB) / 1024.0;
    figures.peakMiB = static_cast<double>(peakKiB) / 1024.0;
    return figures;
}

// One pair of fresh processes an iteration, child `kind` and the anchor, in a random order.
void MeasureFirstFailure(benchmark::State& state, const char* kind) {
    std::mt19937 random(20240305);
    double anchorSeconds = 0.0;
    double addedPeak = 0.0;
    double anchorPeak = 0.0;
    double residentGrowth = 0.0;
    double anchorResidentGrowth = 0.0;
    try {
        for (auto _ : state) {
            FreshFigures library;
            FreshFigures anchor;
            if (random() % 2 == 0) {
                library = RunFreshProcess(kind);
                anchor = RunFreshProcess(kAnchorChild);
            } else {
                anchor = RunFreshProcess(kAnchorChild);
                library = RunFreshProcess(kind);
            }
            state.SetIterationTime(library.seconds);
            anchorSeconds += anchor.seconds;
            addedPeak += library.peakMiB - anchor.peakMiB;
            anchorPeak += anchor.peakMiB;
            residentGrowth += library.residentGrowthMiB;
            anchorResidentGrowth += anchor.residentGrowthMiB;
        }
    } catch (const std::exception& error) {
        state.SkipWithError(error.what());
        return;
    }
    using benchmark::Counter;
    state.counters["anchor"] = Counter(anchorSeconds, Counter::kAvgIterations);
    state.counters["added peak"] = Counter(addedPeak, Counter::kAvgIterations);
    state.counters["anchor peak"] = Counter(anchorPeak, Counter::kAvgIterations);
    state.counters["resident growth"] = Counter(residentGrowth, Counter::kAvgIterations);
    state.counters["anchor resident growth"] =
        Counter(anchorResidentGrowth, Counter::kAvgIterations);
}

// Registers the first failure of child `kind` under `name`, and its goals: at most 30 ms and
// 8 MiB more than a process that never failed.
void RegisterFirstFailure(const char* name, const char* kind, const std::string& how,
                          std::vector<Goal>& goals) {
    benchmark::RegisterBenchmark(name, &MeasureFirstFailure, kind)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1)
        ->Repetitions(15)
        ->ReportAggregatesOnly(true);
    constexpr auto kAbsolute = Goal::Bound::Library;
    const std::string neverFailed = "a process that never failed";
    goals.push_back(Goal{"First failure" + how + ", wall time", Figure::Time(name),
                         "a first plain throw of std::runtime_error",
                         Figure::Counter(name, "anchor", "s"), 30e-3, kAbsolute});
    goals.push_back(Goal{"First failure" + how + ", peak memory over " + neverFailed,
                         Figure::Counter(name, "added peak", "MiB"), neverFailed + "'s peak",
                         Figure::Counter(name, "anchor peak", "MiB"), 8.0, kAbsolute});
    goals.push_back(Goal{"First failure" + how + ", resident growth",
                         Figure::Counter(name, "resident growth", "MiB"),
                         "across a first plain throw",
                         Figure::Counter(name, "anchor resident growth", "MiB"), 8.0, kAbsolute});
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strncmp(argv[1], kChildFlag, sizeof kChildFlag - 1) == 0) {
        return FreshProcess(argv[1] + sizeof kChildFlag - 1);
    }
    Bench::Session session(argc, argv, "CallStackBench");

    std::vector<Goal> goals;
    RegisterFirstFailure(kFirst, kLibraryChild, "", goals);
    std::vector<Bench::Contender> later{
        Bench::Contender("library",
                         [] { benchmark::DoNotOptimize(FailAndCatch(kDepth, &LibraryFailure)); }),
        Bench::Contender("anchor",
                         [] { benchmark::DoNotOptimize(FailAndCatch(kDepth, &PlainFailure)); })};
    goals.push_back(Goal{"Later failure, each", Figure::Time(kLater),
                         "a plain throw of std::runtime_error",
                         Figure::Counter(kLater, "anchor", "s"), 200e-6, Goal::Bound::Library});
#ifdef LUMO_BENCH_LIBDW
    // The same failures with libdw naming the frames instead of Plinth's own reader.
    RegisterFirstFailure(kFirstLibdw, kLibdwChild, " with libdw", goals);
    later.emplace_back("libdw",
                       [] { benchmark::DoNotOptimize(FailAndCatch(kDepth, &LibdwFailure)); });
    goals.push_back(Goal{"Later failure with libdw, each", Figure::Counter(kLater, "libdw", "s"),
                         "a plain throw of std::runtime_error",
                         Figure::Counter(kLater, "anchor", "s"), 200e-6, Goal::Bound::Library});
#endif
    Bench::RegisterSideBySide(kLater, std::move(later))
        ->Unit(benchmark::kMicrosecond)
        ->MinTime(0.2)
        ->Repetitions(9)
        ->ReportAggregatesOnly(true);
    return session.Run(goals);
}
