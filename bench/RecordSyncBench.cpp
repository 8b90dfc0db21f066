// How well `lumo record` holds picture and sound together, beside the ffmpeg program recording
// the same events in the same run: an event flashes the stage's screen and plays a burst into
// its sound at one instant, every second; each recording's offsets (the sound's onset less the
// picture's content time) give its mean, spread (sd), farthest event from the median and drift.
// Under each condition both recorders run at once and meet the same trouble, except pauses,
// which the ffmpeg program does not have.

#include <signal.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <exception>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/Support/BenchSession.h"
#include "bench/Support/ScratchDirectory.h"
#include "tests/Support/CaptureStage.h"
#include "tests/Support/ChildProcess.h"
#include "tests/Support/DriftingSource.h"
#include "tests/Support/SharedEvents.h"
#include "tests/Support/SyncFigures.h"

#ifndef LUMO_TOOL_PATH
#define LUMO_TOOL_PATH ""  // built without the tool (LUMO_BUILD_TOOLS=OFF)
#endif

namespace {

using namespace Vantor;
using Bench::Figure;
using Bench::Goal;
using Seconds = std::chrono::duration<double>;

constexpr double kPeriod = 1.0;  // between events

double Now() {
    return Seconds(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// What both recorders go through while they run.
using Trouble = std::function<void(Testing::ChildProcess& lumo, Testing::ChildProcess* ffmpeg)>;

struct Condition {
    std::string name;
    int seconds;
    int fps;
    double ppm = 0.0;  // a drifting card of its own instead of the null sink's monitor
    Trouble trouble;
    bool ffmpegToo = true;
};

constexpr const char* kSides[] = {"lumo", "ffmpeg"};
constexpr const char* kFigures[] = {"|mean|", "sd", "max", "|drift|"};
constexpr const char* kCounters[] = {"mean", "sd", "max", "drift"};

std::string CounterName(const char* side, const char* figure) {
    return std::string(side) + "_" + figure + "_ms";
}

void Record(benchmark::State& state, Testing::CaptureStage& stage,
            const Testing::SharedEvents& events, const Bench::ScratchDirectory& scratch,
            const Condition& condition) {
    try {
        std::unique_ptr<Testing::DriftingSource> card;
        std::string source = stage.MonitorSource();
        if (condition.ppm != 0.0) {
            source = condition.ppm > 0 ? "fast" : "slow";
            card = std::make_unique<Testing::DriftingSource>(stage, source, condition.ppm, events);
        }
        const std::string directory = scratch / condition.name;
        Bench::MakeDirectory(directory);
        const std::string lumoFile = directory + "/KorvelProject1.mkv";
        const std::string ffmpegFile = scratch / (condition.name + "-ffmpeg.mkv");
        for (auto _ : state) {
            auto lumo =
                stage.Start({LUMO_TOOL_PATH, "record", directory, "--screen", stage.Display(),
                             "--mic", source, "--fps", std::to_string(condition.fps), "--seconds",
                             std::to_string(condition.seconds), "--quiet"},
                            "lumo-" + condition.name);
            std::unique_ptr<Testing::ChildProcess> ffmpeg;
            if (condition.ffmpegToo) {
                ffmpeg =
                    stage.Start(Testing::FfmpegRecording(stage.Display(), source, condition.fps,
                                                         condition.seconds, ffmpegFile),
                                "ffmpeg-" + condition.name);
            }
            if (condition.trouble) {
                condition.trouble(*lumo, ffmpeg.get());
            }
            for (Testing::ChildProcess* recorder : {lumo.get(), ffmpeg.get()}) {
                if (!recorder) {
                    continue;
                }
                const auto exit = recorder->WaitFor(condition.seconds + 60.0);
                if (!exit || exit->status != 0) {
                    throw std::runtime_error("a recorder failed under '" + condition.name +
                                             "' (see " + stage.Scratch() + ")");
                }
            }
        }
        for (const char* side : kSides) {
            const bool lumo = std::string(side) == "lumo";
            if (!lumo && !condition.ffmpegToo) {
                continue;
            }
            const Testing::SyncFigures figures =
                Testing::MeasureSync(lumo ? lumoFile : ffmpegFile, kPeriod);
            std::cout << condition.name << ", " << side << ": " << Testing::Describe(figures)
                      << std::endl;
            // The goals bound the size; the lines above keep the sign.
            const double values[] = {std::fabs(figures.mean), figures.sd, figures.maxFromMedian,
                                     std::fabs(figures.drift)};
            for (int n = 0; n < 4; ++n) {
                state.counters[CounterName(side, kCounters[n])] = values[n];
            }
        }
    } catch (const std::exception& error) {
        state.SkipWithError(error.what());
    }
}

// Sleeps until `phase` seconds after an event's instant.
void WaitForPhase(const Testing::SharedEvents& events, double phase) {
    const double since = events.SinceInstant(Now());
    const double wait = since < 0 ? -since + phase : std::fmod(phase - since + kPeriod, kPeriod);
    std::this_thread::sleep_for(Seconds(wait));
}

std::vector<Condition> Conditions(Testing::CaptureStage& stage,
                                  const Testing::SharedEvents& events) {
    const auto stopEveryFourSeconds = [](Testing::ChildProcess& lumo,
                                         Testing::ChildProcess* ffmpeg) {
        for (int n = 0; n < 4; ++n) {
            std::this_thread::sleep_for(Seconds(3.7));
            lumo.Signal(SIGSTOP);
            ffmpeg->Signal(SIGSTOP);
            std::this_thread::sleep_for(Seconds(0.3));
            lumo.Signal(SIGCONT);
            ffmpeg->Signal(SIGCONT);
        }
    };
    const auto soundStopsAtTheStart = [&stage](Testing::ChildProcess&, Testing::ChildProcess*) {
        std::this_thread::sleep_for(Seconds(0.3));
        stage.SuspendSink(true);
        std::this_thread::sleep_for(Seconds(3.0));
        stage.SuspendSink(false);
    };
    const auto twentyPauses = [&events](Testing::ChildProcess& lumo, Testing::ChildProcess*) {
        std::this_thread::sleep_for(Seconds(3.0));
        for (int n = 0; n < 20; ++n) {
            WaitForPhase(events, 0.35);
            lumo.Signal(SIGUSR1);
            WaitForPhase(events, 0.65);
            lumo.Signal(SIGUSR1);
        }
    };
    return {
        {"quiet, 30 fps, 20 s", 20, 30, 0.0, {}, true},
        {"60 fps, 20 s", 20, 60, 0.0, {}, true},
        {"stopped 0.3 s every 4 s, 20 s", 20, 30, 0.0, stopEveryFourSeconds, true},
        {"sound stopped 3 s at the start, 15 s", 15, 30, 0.0, soundStopsAtTheStart, true},
        {"card +1000 ppm, 120 s", 120, 30, 1000.0, {}, true},
        {"card -1000 ppm, 120 s", 120, 30, -1000.0, {}, true},
        {"20 pauses, 30 s", 30, 30, 0.0, twentyPauses, false},
    };
}

}  // namespace

int main(int argc, char** argv) {
    Bench::Session session(argc, argv, "RecordSyncBench");
    if (std::string(LUMO_TOOL_PATH).empty()) {
        session.Note("lumo record: not measured, the lumo tool is not part of this build");
        return session.Run({});
    }
    try {
        const Bench::ScratchDirectory scratch("record-sync");
        Testing::CaptureStage stage;
        const Testing::SharedEvents events(stage, kPeriod);
        const std::vector<Condition> conditions = Conditions(stage, events);
        std::vector<Goal> goals;
        for (const Condition& condition : conditions) {
            benchmark::RegisterBenchmark(condition.name.c_str(),
                                         [&, condition](benchmark::State& state) {
                                             Record(state, stage, events, scratch, condition);
                                         })
                ->Iterations(1)
                ->Unit(benchmark::kSecond);
            // Each figure of lumo, its goal, and the ffmpeg program's beside it.
            const double limits[] = {20.0, 12.0, 50.0, 15.0};
            for (int n = 0; n < 4; ++n) {
                const Figure lumo =
                    Figure::Counter(condition.name, CounterName("lumo", kCounters[n]), "ms");
                std::optional<Figure> ffmpeg;
                if (condition.ffmpegToo) {
                    ffmpeg =
                        Figure::Counter(condition.name, CounterName("ffmpeg", kCounters[n]), "ms");
                }
                goals.push_back(Goal{condition.name + ": " + kFigures[n], lumo,
                                     condition.ffmpegToo ? "ffmpeg" : "", ffmpeg, limits[n],
                                     Goal::Bound::Library});
            }
        }
        session.Note(
            "mean, sd, max (from the median) and drift of the sound's onset less the "
            "picture's content time; a mean or drift below zero is the sound early");
        return session.Run(goals);
    } catch (const std::exception& error) {
        std::cerr << "RecordSyncBench: " << error.what() << '\n';
        return 1;
    }
}
