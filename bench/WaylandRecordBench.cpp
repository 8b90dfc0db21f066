// `lumo record --screen wayland` of a headless sway output (1280x720) that a painter changes 30
// times a second, for 20 s, beside the same capture through GStreamer in the same run
// (pipewiresrc, videoconvert, x264enc veryfast, matroskamux, on a portal session of its own):
// the CPU time (user + system) of each, and the frames each wrote against those painted.

#include <signal.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <exception>
#include <filesystem>
#include <iostream>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/Support/BenchSession.h"
#include "bench/Support/ScratchDirectory.h"
#include "tests/Support/ChildProcess.h"
#include "tests/Support/MediaProbe.h"
#include "tests/Support/WaylandStage.h"

#ifndef LUMO_TOOL_PATH
#define LUMO_TOOL_PATH ""  // built without the tool (LUMO_BUILD_TOOLS=OFF)
#endif

namespace {

using namespace Vantor;
using Bench::Figure;
using Bench::Goal;

constexpr char kSideBySide[] = "lumo record wayland beside gst-launch, 20 s";
constexpr char kGstCpu[] = "gst_cpu_s";
constexpr char kLumoFrames[] = "lumo_frames";
constexpr char kGstFrames[] = "gst_frames";
constexpr char kPainted[] = "painted";
constexpr char kLumoShort[] = "lumo_frames_short";
constexpr int kSeconds = 20;
constexpr double kRunLimitSeconds = kSeconds + 40.0;

struct Take {
    double cpuSeconds = 0.0;
    std::int64_t frames = 0;
    long painted = 0;  // pictures the painter made while it ran
};

std::int64_t VideoPackets(const std::string& file) {
    for (const auto& stream : Testing::Summarise(file).streams) {
        if (stream.type == MediaType::Video) {
            return stream.packets;
        }
    }
    return 0;
}

// Runs one recorder; one that does not stop by itself gets SIGINT after `seconds`.
Take RunRecorder(const Testing::WaylandStage& stage, const std::vector<std::string>& command,
                 const std::string& label, const std::string& file, bool interrupt) {
    Testing::ChildOptions options;
    options.environment = stage.ClientEnvironment();
    options.stderrPath = stage.Scratch() + "/" + label + ".err.log";
    const long paintedBefore = stage.PaintedPictures();
    Testing::ChildProcess recorder(command, options);
    if (interrupt) {
        if (recorder.WaitFor(kSeconds)) {
            throw std::runtime_error(label + " ended early (see " + options.stderrPath + ")");
        }
        recorder.Signal(SIGINT);
    }
    const auto exit = recorder.WaitFor(kRunLimitSeconds);
    const long paintedAfter = stage.PaintedPictures();
    if (!exit || exit->status != 0) {
        recorder.Stop();
        throw std::runtime_error(label + " did not record (see " + options.stderrPath + ")");
    }
    return {exit->cpuSeconds, VideoPackets(file), paintedAfter - paintedBefore};
}

void MeasureSideBySide(benchmark::State& state, const Testing::WaylandStage& stage,
                       const Bench::ScratchDirectory& scratch) {
    const std::string gstFile = scratch / "gst.mkv";
    const std::string lumoDirectory = scratch / "lumo";
    const std::vector<std::string> gst = {LUMO_BENCH_PORTAL_CAST_PATH,
                                          "--",
                                          "gst-launch-1.0",
                                          "-e",
                                          "-q",
                                          "pipewiresrc",
                                          "fd={fd}",
                                          "path={node}",
                                          "!",
                                          "videoconvert",
                                          "!",
                                          "x264enc",
                                          "speed-preset=veryfast",
                                          "!",
                                          "matroskamux",
                                          "!",
                                          "filesink",
                                          "location=" + gstFile};
    const std::vector<std::string> lumo = {
        LUMO_TOOL_PATH,           "record", lumoDirectory, "--screen", "wayland", "--seconds",
        std::to_string(kSeconds), "--quiet"};
    std::mt19937 random(20261206);
    double gstCpu = 0.0, lumoFrames = 0.0, gstFrames = 0.0, painted = 0.0, lumoShort = 0.0;
    try {
        for (auto _ : state) {
            const bool lumoFirst = random() % 2 == 0;
            Take lumoTake;
            Take gstTake;
            for (int turn = 0; turn < 2; ++turn) {
                if ((turn == 0) == lumoFirst) {
                    Bench::MakeDirectory(lumoDirectory);
                    lumoTake = RunRecorder(stage, lumo, "lumo",
                                           lumoDirectory + "/KorvelProject1.mkv", false);
                    std::filesystem::remove_all(lumoDirectory);
                } else {
                    gstTake = RunRecorder(stage, gst, "gst", gstFile, true);
                    std::filesystem::remove(gstFile);
                }
            }
            state.SetIterationTime(lumoTake.cpuSeconds);
            gstCpu += gstTake.cpuSeconds;
            lumoFrames += static_cast<double>(lumoTake.frames);
            gstFrames += static_cast<double>(gstTake.frames);
            // The painter's pictures of lumo's 20 s, without those of its start.
            const double made = std::min<double>(lumoTake.painted, kSeconds * 30.0);
            painted += made;
            lumoShort += std::max(0.0, made - static_cast<double>(lumoTake.frames));
        }
    } catch (const std::exception& error) {
        state.SkipWithError(error.what());
        return;
    }
    const auto average = benchmark::Counter::kAvgIterations;
    state.counters[kGstCpu] = benchmark::Counter(gstCpu, average);
    state.counters[kLumoFrames] = benchmark::Counter(lumoFrames, average);
    state.counters[kGstFrames] = benchmark::Counter(gstFrames, average);
    state.counters[kPainted] = benchmark::Counter(painted, average);
    state.counters[kLumoShort] = benchmark::Counter(lumoShort, average);
}

}  // namespace

int main(int argc, char** argv) {
    Bench::Session session(argc, argv, "WaylandRecordBench");
    if (std::string(LUMO_TOOL_PATH).empty()) {
        session.Note("lumo record --screen wayland: not measured, the lumo tool is not built");
        return session.Run({});
    }
    if (Testing::FindProgram("gst-launch-1.0").empty()) {
        session.Note(
            "lumo record --screen wayland: not measured, gst-launch-1.0 is missing "
            "(gstreamer1.0-tools, gstreamer1.0-pipewire, gstreamer1.0-plugins-ugly)");
        return session.Run({});
    }
    try {
        const Bench::ScratchDirectory scratch("wayland-record");
        const Testing::WaylandStage stage("#2080e0", true);
        benchmark::RegisterBenchmark(kSideBySide,
                                     [&stage, &scratch](benchmark::State& state) {
                                         MeasureSideBySide(state, stage, scratch);
                                     })
            ->UseManualTime()
            ->Unit(benchmark::kSecond)
            ->Iterations(1)
            ->Repetitions(3)
            ->ReportAggregatesOnly(true);
        constexpr int kPaintedAtMost = kSeconds * 30;
        session.Note(
            "frames written: see the lumo_frames and gst_frames columns, against the "
            "painter's pictures in the painted column");
        return session.Run({
            Goal{"lumo record --screen wayland 20 s 1280x720 30 fps, CPU user+sys",
                 Figure::Time(kSideBySide), "gst-launch pipewiresrc, x264enc veryfast, matroskamux",
                 Figure::Counter(kSideBySide, kGstCpu, "s"), 1.10},
            // 98% of the pictures painted: at most 2% short.
            Goal{"lumo record wayland frames short of those painted",
                 Figure::Counter(kSideBySide, kLumoShort, "frames"), "", std::nullopt,
                 kPaintedAtMost * 0.02},
        });
    } catch (const std::exception& error) {
        std::cerr << "WaylandRecordBench: " << error.what() << '\n';
        return 1;
    }
}
