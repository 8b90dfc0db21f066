#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <ctime>
#include <iostream>
#include <memory>
#include <optional>

#include "App/IPC/LumoIntegration/FormatFile.h"
#include "Lib/Project/ProjectManager.h"
#include "Lib/Project/ProjectNaming.h"
#include "Platform/Host/LocalFileManager.h"
#include "tools/lumo/Capture.h"
#include "tools/lumo/Commands.h"
#include "tools/lumo/LiveRecorder.h"
#include "tools/lumo/Progress.h"
#include "tools/lumo/Recorder.h"

namespace Vantor::Lumo::Tool {

namespace {

namespace Document = Lumoreel::FormatFile;

struct RecordOptions {
    std::string directory;
    bool folder = false;
    double seconds = 3.0;
    bool secondsGiven = false;
    std::string display;
    std::string region;
    int fps = 30;
    std::string mic;
    bool quiet = false;
};

// SIGINT and SIGTERM end the recording and keep it. They are blocked in every thread (the
// capture libraries start their own, which inherit the mask) and collected here, so no
// handler runs at an arbitrary point.
class StopSignals {
public:
    StopSignals() {
        sigemptyset(&signals_);
        sigaddset(&signals_, SIGINT);
        sigaddset(&signals_, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &signals_, &previous_);
    }
    ~StopSignals() {
        // One more Ctrl-C while the files were being finished changes nothing any more.
        while (Arrived()) {
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Whether one of them came since the last call; never waits.
    bool Arrived() {
        const timespec noWait{};
        return sigtimedwait(&signals_, nullptr, &noWait) > 0;
    }

private:
    sigset_t signals_{};
    sigset_t previous_{};
};

Document::StreamInfo ToRecord(const IProject::StreamInfo& stream, const std::string& name) {
    Document::StreamInfo record;
    record.type = stream.type;
    record.index = stream.index;
    record.group = stream.group;
    record.name = name;
    return record;
}

void RunRecord(const RecordOptions& options) {
    StopSignals stopSignals;
    const bool live = !options.display.empty() || !options.mic.empty();
    // The devices are tried before anything is created, so a wrong name leaves nothing behind.
    LiveSources sources;
    if (!options.display.empty()) {
        sources.screen = ProbeScreen({options.display, ParseRegion(options.region), options.fps});
    }
    if (!options.mic.empty()) {
        ProbeMic(options.mic);
        sources.mic = options.mic;
    }

    const auto kind = options.folder ? ProjectManager::ProjectType::Folder
                                     : ProjectManager::ProjectType::MediaContainer;
    ProjectManager projects(std::make_shared<LocalFileManager>(), [kind] { return kind; });
    projects.CreateProject(options.directory, GetDefaultProjectName(), "");
    const std::shared_ptr<IProject> project = projects.GetCurrentProject();
    std::vector<IProject::StreamInfo> streams;
    std::vector<Document::StreamInfo> records;
    if (!live || sources.screen) {
        streams.push_back(project->AddStream(MediaType::Video, "screen"));
        records.push_back(
            ToRecord(streams.back(), live ? "X11 display " + options.display : "test pattern"));
    }
    if (!live || sources.mic) {
        streams.push_back(project->AddStream(MediaType::Audio, "mic"));
        records.push_back(
            ToRecord(streams.back(), live ? "PulseAudio " + options.mic : "440 Hz tone"));
    }
    // A folder's stream files need no document: each holds one stream, named by its group.
    const std::string tag = options.folder ? "" : Document::StreamInfoToString(records);

    std::vector<std::string> files;
    for (const IProject::StreamInfo& stream : streams) {
        files.push_back(stream.path.utf8string());
    }
    ProgressLine progress(!options.quiet && isatty(STDERR_FILENO), files);
    RecordingCounters counters;
    double recorded = 0;
    const auto keepGoing = [&](double seconds) {
        recorded = seconds;
        progress.Update(seconds, counters);
        return !stopSignals.Arrived();
    };
    try {
        if (live) {
            RecordLive(streams, tag, sources,
                       options.secondsGiven ? std::optional(options.seconds) : std::nullopt,
                       counters, keepGoing);
        } else {
            Record(streams, tag, options.seconds, counters, keepGoing);
        }
    } catch (...) {
        progress.End();
        // Nothing recorded: no empty project is left behind. Anything recorded stays, playable.
        if (counters.packetsWritten == 0) {
            projects.RemoveCurrentProject(RemoveType::FromDisk);
        }
        throw;
    }
    progress.Update(recorded, counters, true);
    progress.End();
    const std::int64_t dropped = counters.framesDropped;
    if (dropped > 0 && !options.quiet) {
        std::cerr << "lumo: " << dropped << " of " << dropped + counters.framesWritten
                  << " pictures dropped: the machine could not keep up" << std::endl;
    }
    std::cout << project->GetPath().utf8string() << '\n';
}

}  // namespace

void AddRecordCommand(CLI::App& app, Command& selected) {
    auto options = std::make_shared<RecordOptions>();
    CLI::App* command = app.add_subcommand(
        "record",
        "Record the screen and a microphone (or, without --screen and --mic, a test pattern "
        "and a tone) into a new project in DIR");
    command->add_option("DIR", options->directory, "Directory to create the project in")
        ->required();
    command->add_flag("--folder", options->folder,
                      "A folder with one file per stream instead of one media-container file");
    CLI::Option* seconds =
        command
            ->add_option("--seconds", options->seconds,
                         "Length of the recording (test signals: 3; real sources: until "
                         "Ctrl-C or SIGTERM)")
            ->type_name("N")
            ->check(CLI::Range(0.04, 86400.0));
    CLI::Option* screen = command
                              ->add_option("--screen", options->display,
                                           "Record the X11 display DISPLAY, for example :0")
                              ->type_name("DISPLAY");
    command->add_option("--region", options->region, "Record only this rectangle of the screen")
        ->type_name("WxH+X+Y")
        ->check(CLI::Validator(
            [](std::string& text) {
                return ParseRegion(text) ? std::string() : "not a rectangle WxH+X+Y: " + text;
            },
            "WxH+X+Y"))
        ->needs(screen);
    command->add_option("--fps", options->fps, "Pictures a second of the screen recording")
        ->capture_default_str()
        ->type_name("N")
        ->check(CLI::Range(1, 120))
        ->needs(screen);
    command
        ->add_option("--mic", options->mic,
                     "Record the PulseAudio source SOURCE: default, or a name that "
                     "'pactl list short sources' shows")
        ->type_name("SOURCE");
    command->add_flag("-q,--quiet", options->quiet, "No progress line and no closing note");
    command->callback([options, seconds, &selected] {
        options->secondsGiven = seconds->count() > 0;
        selected = {[options] { RunRecord(*options); }, options->directory};
    });
}

}  // namespace Vantor::Lumo::Tool
