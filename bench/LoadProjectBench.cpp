// ProjectManager::LoadProject of a recording against the FFmpeg calls a caller would otherwise
// make: the cost must not grow with the file (1 GiB vs 1 MiB), and must stay well under a bare
// probing open and far under what ffprobe does (open + avformat_find_stream_info). Named for
// another container (.nut), the 1 GiB recording must still be read only as far as its header:
// at most twice the correctly named load.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

#include "App/IPC/LumoIntegration/FormatFile.h"
#include "Lib/Project/ProjectManager.h"
#include "Platform/Host/LocalFileManager.h"
#include "bench/Support/BenchSession.h"
#include "bench/Support/ScratchDirectory.h"
#include "bench/Support/SideBySide.h"
#include "tests/Support/MediaFixture.h"

namespace {

using namespace Vantor;
using Bench::Figure;
using Bench::Goal;

constexpr std::int64_t kMiB = 1024 * 1024;
// The same four side by side, each in turns of 20 loads (warm caches, as in a tight loop) and of
// one load amid the others' work (caches as a host that loads now and then finds them).
struct Turns {
    const char* benchmark;
    const char* label;
    int runsInARow;
    int iterations;  // about a third of a second per repetition either way
};
constexpr Turns kTurns[] = {
    {"LoadProject beside FFmpeg, 20 in a row", " (20 in a row)", 20, 40},
    {"LoadProject beside FFmpeg, one at a time", " (one at a time)", 1, 600},
};
constexpr char kLoadSmall[] = "LoadProject 1MiB";
constexpr char kLoadLarge[] = "LoadProject 1GiB";
constexpr char kLoadMisnamed[] = "LoadProject 1GiB as .nut";
constexpr char kProbeOpen[] = "probe+open 1MiB";
constexpr char kStreamInfo[] = "open+find_stream_info 1MiB";

// A load that quietly fell back to "no metadata" would measure the wrong road.
void CheckLoadsWithMetadata(const std::string& path) {
    Lumo::ProjectManager manager(std::make_shared<Lumo::LocalFileManager>(), {});
    manager.LoadProject(path);
    const auto info = manager.GetCurrentProject()->GetInfo();
    if (info.streams.size() != 2 || info.streams[0].group != "screen" ||
        info.streams[1].group != "mic") {
        throw std::runtime_error("'" + path + "' does not load as a two-stream recording");
    }
}

std::function<void()> LoadProject(const std::string& path) {
    auto manager = std::make_shared<Lumo::ProjectManager>(
        std::make_shared<Lumo::LocalFileManager>(),
        std::function<Lumo::ProjectManager::ProjectType()>());
    return [manager, path] {
        manager->LoadProject(path);
        benchmark::DoNotOptimize(manager->GetCurrentProject());
    };
}

// What a caller of FFmpeg writes by hand: probe and open, read the tag and the stream types.
std::function<void()> BareOpen(const std::string& path, bool findStreamInfo) {
    return [path, findStreamInfo] {
        AVFormatContext* context = nullptr;
        if (avformat_open_input(&context, path.c_str(), nullptr, nullptr) < 0) {
            throw std::runtime_error("avformat_open_input failed on '" + path + "'");
        }
        if (findStreamInfo && avformat_find_stream_info(context, nullptr) < 0) {
            avformat_close_input(&context);
            throw std::runtime_error("avformat_find_stream_info failed on '" + path + "'");
        }
        const AVDictionaryEntry* tag =
            av_dict_get(context->metadata, "VANTOR_SPECIFIC_METADATA", nullptr, 0);
        int types = 0;
        for (unsigned i = 0; i < context->nb_streams; ++i) {
            types += context->streams[i]->codecpar->codec_type;
        }
        benchmark::DoNotOptimize(tag);
        benchmark::DoNotOptimize(types);
        avformat_close_input(&context);
    };
}

}  // namespace

int main(int argc, char** argv) {
    Bench::Session session(argc, argv, "LoadProjectBench");
    try {
        const Bench::ScratchDirectory scratch("load");
        const std::string large = scratch / "KorvelProject1.mkv";
        const std::string small = scratch / "KorvelProject2.mkv";
        const std::vector<MediaType> streams = {MediaType::Video, MediaType::Audio};
        std::cout << "writing a 1 GiB and a 1 MiB recording under " << scratch.Path() << " ..."
                  << std::endl;
        // Both with 1 MiB frames, so the headers match and only the length differs.
        Testing::WriteLargeMatroska(large, streams, Bench::RecordingDocument(), 1024 * kMiB);
        Testing::WriteLargeMatroska(small, streams, Bench::RecordingDocument(), kMiB);
        // The same file under a second name: no second gigabyte on disk.
        const std::string misnamed = scratch / "KorvelProject3.nut";
        if (::link(large.c_str(), misnamed.c_str()) != 0) {
            throw std::runtime_error("can not link '" + large + "' as '" + misnamed + "'");
        }
        CheckLoadsWithMetadata(large);
        CheckLoadsWithMetadata(small);
        CheckLoadsWithMetadata(misnamed);

        const std::vector<Bench::Contender> contenders = {
            {kLoadSmall, LoadProject(small)},       {kLoadLarge, LoadProject(large)},
            {kLoadMisnamed, LoadProject(misnamed)}, {kProbeOpen, BareOpen(small, false)},
            {kStreamInfo, BareOpen(small, true)},
        };
        std::vector<Goal> goals;
        for (const Turns& turns : kTurns) {
            Bench::RegisterSideBySide(turns.benchmark, contenders, turns.runsInARow)
                ->Unit(benchmark::kMicrosecond)
                ->Iterations(turns.iterations)
                ->Repetitions(15)
                ->ReportAggregatesOnly(true);

            const std::string how = turns.label;
            const auto seconds = [&turns](const char* contender) {
                return Figure::Counter(turns.benchmark, contender, "s");
            };
            goals.push_back(Goal{"LoadProject 1 GiB .mkv" + how, seconds(kLoadLarge), "1 MiB .mkv",
                                 seconds(kLoadSmall), 1.10});
            goals.push_back(Goal{"LoadProject 1 GiB Matroska named .nut" + how,
                                 seconds(kLoadMisnamed), "the same file named .mkv",
                                 seconds(kLoadLarge), 2.0});
            goals.push_back(Goal{"LoadProject 1 MiB .mkv" + how, seconds(kLoadSmall),
                                 "avformat_open_input (probing) + tag + stream types + close",
                                 seconds(kProbeOpen), 0.6});
            goals.push_back(Goal{"LoadProject 1 MiB .mkv" + how, seconds(kLoadSmall),
                                 "avformat_open_input + avformat_find_stream_info",
                                 seconds(kStreamInfo), 0.2});
        }
        return session.Run(goals);
    } catch (const std::exception& error) {
        std::cerr << "LoadProjectBench: " << error.what() << '\n';
        return 1;
    }
}
