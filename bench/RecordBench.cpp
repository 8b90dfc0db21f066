// `lumo record` of a changing 1280x720 screen at 30 fps with sound, for 20 s, beside the same
// capture and encode done by the ffmpeg program in the same run: the CPU time (user + system)
// of each process, and the frames each wrote. Both record our own Xvfb screen, repainted 30
// times a second by lumo-bench-painter, and a tone played into our own PulseAudio null sink.

#include <benchmark/benchmark.h>

#include <exception>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/Support/BenchSession.h"
#include "bench/Support/ScratchDirectory.h"
#include "tests/Support/CaptureStage.h"
#include "tests/Support/ChildProcess.h"
#include "tests/Support/MediaProbe.h"

#ifndef LUMO_TOOL_PATH
#define LUMO_TOOL_PATH ""  // built without the tool (LUMO_BUILD_TOOLS=OFF)
#endif

namespace {

using namespace Vantor;
using Bench::Figure;
using Bench::Goal;

constexpr char kSideBySide[] = "lumo record beside ffmpeg, 20 s";
constexpr char kFfmpegCpu[] = "ffmpeg_cpu_s";
constexpr char kLumoFrames[] = "lumo_frames";
constexpr char kFfmpegFrames[] = "ffmpeg_frames";
constexpr char kLumoShort[] = "lumo_frames_short";
constexpr char kFfmpegShort[] = "ffmpeg_frames_short";
constexpr int kSeconds = 20;
constexpr int kExpectedFrames = kSeconds * 30;
constexpr double kRunLimitSeconds = kSeconds + 40.0;

struct Take {
    double cpuSeconds = 0.0;
    std::int64_t frames = 0;
};

// Runs one recorder to its end and counts the video packets of what it wrote.
Take RunRecorder(const Testing::CaptureStage& stage, const std::vector<std::string>& command,
                 const std::string& label, const std::string& file) {
    auto recorder = stage.Start(command, label);
    const auto exit = recorder->WaitFor(kRunLimitSeconds);
    if (!exit || exit->status != 0) {
        recorder->Stop();
        throw std::runtime_error(label + " did not record (see " + stage.Scratch() + "/" + label +
                                 ".err.log)");
    }
    Take take;
    take.cpuSeconds = exit->cpuSeconds;
    for (const auto& stream : Testing::Summarise(file).streams) {
        if (stream.type == MediaType::Video) {
            take.frames = stream.packets;
        }
    }
    return take;
}

void MeasureSideBySide(benchmark::State& state, const Testing::CaptureStage& stage,
                       const Bench::ScratchDirectory& scratch) {
    const std::string seconds = std::to_string(kSeconds);
    const std::string ffmpegFile = scratch / "ffmpeg.mkv";
    const std::string lumoDirectory = scratch / "lumo";
    const std::vector<std::string> ffmpeg = {"ffmpeg",
                                             "-nostdin",
                                             "-y",
                                             "-v",
                                             "error",
                                             "-f",
                                             "x11grab",
                                             "-framerate",
                                             "30",
                                             "-video_size",
                                             "1280x720",
                                             "-i",
                                             stage.Display(),
                                             "-f",
                                             "pulse",
                                             "-i",
                                             stage.MonitorSource(),
                                             "-t",
                                             seconds,
                                             "-c:v",
                                             "libx264",
                                             "-preset",
                                             "veryfast",
                                             "-pix_fmt",
                                             "yuv420p",
                                             "-c:a",
                                             "flac",
                                             ffmpegFile};
    const std::vector<std::string> lumo = {
        LUMO_TOOL_PATH,        "record",    lumoDirectory, "--screen", stage.Display(), "--mic",
        stage.MonitorSource(), "--seconds", seconds,       "--quiet"};

    std::mt19937 random(20240305);
    double ffmpegCpu = 0.0;
    double lumoFrames = 0.0;
    double ffmpegFrames = 0.0;
    try {
        for (auto _ : state) {
            const bool lumoFirst = random() % 2 == 0;
            Take lumoTake;
            Take ffmpegTake;
            for (int turn = 0; turn < 2; ++turn) {
                if ((turn == 0) == lumoFirst) {
                    Bench::MakeDirectory(lumoDirectory);
                    lumoTake =
                        RunRecorder(stage, lumo, "lumo", lumoDirectory + "/KorvelProject1.mkv");
                    std::filesystem::remove_all(lumoDirectory);
                } else {
                    ffmpegTake = RunRecorder(stage, ffmpeg, "ffmpeg", ffmpegFile);
                    std::filesystem::remove(ffmpegFile);
                }
            }
            state.SetIterationTime(lumoTake.cpuSeconds);
            ffmpegCpu += ffmpegTake.cpuSeconds;
            lumoFrames += static_cast<double>(lumoTake.frames);
            ffmpegFrames += static_cast<double>(ffmpegTake.frames);
        }
    } catch (const std::exception& error) {
        state.SkipWithError(error.what());
        return;
    }
    const auto average = benchmark::Counter::kAvgIterations;
    const double runs = static_cast<double>(state.iterations());
    state.counters[kFfmpegCpu] = benchmark::Counter(ffmpegCpu, average);
    state.counters[kLumoFrames] = benchmark::Counter(lumoFrames, average);
    state.counters[kFfmpegFrames] = benchmark::Counter(ffmpegFrames, average);
    state.counters[kLumoShort] = benchmark::Counter(kExpectedFrames * runs - lumoFrames, average);
    state.counters[kFfmpegShort] =
        benchmark::Counter(kExpectedFrames * runs - ffmpegFrames, average);
}

}  // namespace

int main(int argc, char** argv) {
    Bench::Session session(argc, argv, "RecordBench");
    if (std::string(LUMO_TOOL_PATH).empty()) {
        session.Note("lumo record: not measured, the lumo tool is not part of this build");
        return session.Run({});
    }
    try {
        const Bench::ScratchDirectory scratch("record");
        Testing::CaptureStage stage;
        stage.PlayTone(440.0);
        const auto painter = stage.Start({LUMO_BENCH_PAINTER_PATH}, "painter");
        if (painter->WaitFor(0.5)) {
            throw std::runtime_error("lumo-bench-painter cannot paint the screen");
        }

        benchmark::RegisterBenchmark(kSideBySide,
                                     [&stage, &scratch](benchmark::State& state) {
                                         MeasureSideBySide(state, stage, scratch);
                                     })
            ->UseManualTime()
            ->Unit(benchmark::kSecond)
            ->Iterations(1)
            ->Repetitions(3)
            ->ReportAggregatesOnly(true);

        const std::string frames = std::to_string(kExpectedFrames);
        // 98% of the frames written: at most 2% short.
        const double allowedShort = kExpectedFrames * 0.02;
        session.Note("frames written: see the lumo_frames and ffmpeg_frames columns (of " + frames +
                     ")");
        return session.Run({
            Goal{"lumo record 20 s 1280x720 30 fps + sound, CPU user+sys",
                 Figure::Time(kSideBySide), "ffmpeg x11grab + pulse, libx264 veryfast + flac",
                 Figure::Counter(kSideBySide, kFfmpegCpu, "s"), 1.10},
            Goal{"lumo record frames short of " + frames,
                 Figure::Counter(kSideBySide, kLumoShort, "frames"), "", std::nullopt,
                 allowedShort},
            Goal{"ffmpeg frames short of " + frames + " (the anchor, for comparison)",
                 Figure::Counter(kSideBySide, kFfmpegShort, "frames"), "", std::nullopt,
                 allowedShort},
        });
    } catch (const std::exception& error) {
        std::cerr << "RecordBench: " << error.what() << '\n';
        return 1;
    }
}
