// The whole `lumo info FILE` process against `ffprobe -v quiet -show_streams -show_format FILE`
// on the same recording: wall time and peak memory (ru_maxrss) of each run. Every run is
// started through lumo-bench-spawn, a tiny process of its own, since a child's ru_maxrss starts
// from the memory of whoever forked it, and it is that helper that times the run.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <iostream>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "App/IPC/LumoIntegration/FormatFile.h"
#include "bench/Support/BenchSession.h"
#include "bench/Support/ScratchDirectory.h"
#include "tests/Support/MediaFixture.h"

extern char** environ;

#ifndef LUMO_TOOL_PATH
#define LUMO_TOOL_PATH ""  // built without the tool (LUMO_BUILD_TOOLS=OFF)
#endif

namespace {

using namespace Vantor;
using Bench::Figure;
using Bench::Goal;

constexpr char kSideBySide[] = "lumo info beside ffprobe";
constexpr char kFfprobeSeconds[] = "ffprobe_s";
constexpr char kLumoPeak[] = "lumo_peak_MiB";
constexpr char kFfprobePeak[] = "ffprobe_peak_MiB";

struct Outcome {
    double seconds = 0.0;
    double peakMiB = 0.0;
    int exitStatus = -1;
};

// One run of `command` through the spawn helper; nullopt when the helper itself failed.
std::optional<Outcome> RunOnce(const std::vector<std::string>& command) {
    std::vector<char*> argv;
    std::string helper = LUMO_BENCH_SPAWN_PATH;
    argv.push_back(helper.data());
    std::vector<std::string> words = command;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        return std::nullopt;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    pid_t child = 0;
    const int spawned = ::posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    std::string output;
    char buffer[256];
    ssize_t got = 0;
    while (spawned == 0 && (got = ::read(pipeFds[0], buffer, sizeof buffer)) != 0) {
        if (got < 0 && errno != EINTR) {
            break;
        }
        output.append(buffer, got > 0 ? static_cast<std::size_t>(got) : 0);
    }
    ::close(pipeFds[0]);
    if (spawned != 0) {
        return std::nullopt;
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    long long nanoseconds = 0;
    long peakKiB = 0;
    Outcome outcome;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
        std::sscanf(output.c_str(), "%lld %ld %d", &nanoseconds, &peakKiB, &outcome.exitStatus) !=
            3) {
        return std::nullopt;
    }
    outcome.seconds = nanoseconds * 1e-9;
    outcome.peakMiB = peakKiB / 1024.0;
    return outcome;
}

// Both commands once per iteration, in a random order: the machine's drift weighs on both
// alike. The benchmark's time is lumo's; ffprobe's time and both peaks are counters.
void MeasureSideBySide(benchmark::State& state, const std::vector<std::string>& lumo,
                       const std::vector<std::string>& ffprobe) {
    std::mt19937 random(20240305);
    double ffprobeSeconds = 0.0;
    double lumoPeak = 0.0;
    double ffprobePeak = 0.0;
    for (auto _ : state) {
        const bool lumoFirst = random() % 2 == 0;
        std::optional<Outcome> lumoRun;
        std::optional<Outcome> ffprobeRun;
        for (int turn = 0; turn < 2; ++turn) {
            if ((turn == 0) == lumoFirst) {
                lumoRun = RunOnce(lumo);
            } else {
                ffprobeRun = RunOnce(ffprobe);
            }
        }
        if (!lumoRun || lumoRun->exitStatus != 0 || !ffprobeRun || ffprobeRun->exitStatus != 0) {
            state.SkipWithError("lumo or ffprobe did not run successfully");
            break;
        }
        state.SetIterationTime(lumoRun->seconds);
        ffprobeSeconds += ffprobeRun->seconds;
        lumoPeak += lumoRun->peakMiB;
        ffprobePeak += ffprobeRun->peakMiB;
    }
    const auto average = benchmark::Counter::kAvgIterations;
    state.counters[kFfprobeSeconds] = benchmark::Counter(ffprobeSeconds, average);
    state.counters[kLumoPeak] = benchmark::Counter(lumoPeak, average);
    state.counters[kFfprobePeak] = benchmark::Counter(ffprobePeak, average);
}

}  // namespace

int main(int argc, char** argv) {
    Bench::Session session(argc, argv, "LumoInfoBench");
    if (std::string(LUMO_TOOL_PATH).empty()) {
        session.Note("lumo info: not measured, the lumo tool is not part of this build");
        return session.Run({});
    }
    if (std::string(LUMO_FFPROBE_PATH).empty()) {
        session.Note("lumo info: not measured, ffprobe is not installed");
        return session.Run({});
    }
    try {
        const Bench::ScratchDirectory scratch("info");
        const std::string recording = scratch / "KorvelProject1.mkv";
        Testing::WriteLargeMatroska(recording, {MediaType::Video, MediaType::Audio},
                                    Bench::RecordingDocument(), 1024 * 1024);
        const std::vector<std::string> lumo = {LUMO_TOOL_PATH, "info", recording};
        const std::vector<std::string> ffprobe = {LUMO_FFPROBE_PATH, "-v",           "quiet",
                                                  "-show_streams",   "-show_format", recording};
        for (const auto* command : {&lumo, &ffprobe}) {
            const auto outcome = RunOnce(*command);
            if (!outcome || outcome->exitStatus != 0) {
                throw std::runtime_error((*command)[0] + " fails on '" + recording + "'");
            }
        }

        benchmark::RegisterBenchmark(
            kSideBySide,
            [lumo, ffprobe](benchmark::State& state) { MeasureSideBySide(state, lumo, ffprobe); })
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond)
            ->Iterations(4)
            ->Repetitions(9)
            ->ReportAggregatesOnly(true);

        return session.Run({
            Goal{"lumo info 1 MiB .mkv, wall time", Figure::Time(kSideBySide),
                 "ffprobe -v quiet -show_streams -show_format",
                 Figure::Counter(kSideBySide, kFfprobeSeconds, "s"), 0.75},
            Goal{"lumo info 1 MiB .mkv, peak memory",
                 Figure::Counter(kSideBySide, kLumoPeak, "MiB"), "ffprobe",
                 Figure::Counter(kSideBySide, kFfprobePeak, "MiB"), 1.0},
        });
    } catch (const std::exception& error) {
        std::cerr << "LumoInfoBench: " << error.what() << '\n';
        return 1;
    }
}
