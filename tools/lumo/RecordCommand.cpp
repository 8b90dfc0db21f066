#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>

#include <boost/filesystem/operations.hpp>

#include "App/IPC/LumoIntegration/FormatFile.h"
#include "Lib/Project/ProjectManager.h"
#include "Lib/Project/ProjectNaming.h"
#include "Platform/Host/LocalFileManager.h"
#include "Recorder/Recording.h"
#include "Recorder/Sources/PulseSource.h"
#include "Recorder/Sources/ScreenSource.h"
#include "Recorder/Sources/TestSignals.h"
#include "Recorder/Sources/WaylandSource.h"
#include "Recorder/WaitOrAbandon.h"
#include "tools/lumo/Commands.h"
#include "tools/lumo/PauseKey.h"
#include "tools/lumo/Progress.h"
#include "tools/lumo/RecordingProject.h"
#include "tools/lumo/StopSignals.h"

namespace Vantor::Lumo::Tool {

namespace {

namespace Document = Lumoreel::FormatFile;
using Recorder::Source;

// A device that gives nothing this long is reported instead of waited for.
constexpr std::chrono::seconds kDeviceLimit{10};
// The desktop's screen-cast dialog waits for the user, who may take a while.
constexpr std::chrono::minutes kDialogLimit{10};

struct RecordOptions {
    std::string directory;
    bool folder = false;
    double seconds = 3.0;
    bool secondsGiven = false;
    std::optional<std::string> display;
    std::string region;
    int fps = 30;
    std::vector<std::string> mics;
    std::optional<std::string> systemAudio;  // a sink; empty for the default one
    bool quiet = false;
    bool window = false;
    bool noCursor = false;
    bool forgetScreen = false;
};

// Opens a device on a thread of its own: Ctrl-C and a device that never answers both end the
// wait, which its library would not.
std::unique_ptr<Source> OpenDevice(std::function<std::unique_ptr<Source>()> open,
                                   StopSignals& stopSignals, const std::string& timeoutText,
                                   std::chrono::milliseconds limit = kDeviceLimit) {
    try {
        return Recorder::WaitOrAbandon<std::unique_ptr<Source>>(
            std::move(open), limit, [&stopSignals] { return stopSignals.Arrived(); }, timeoutText);
    } catch (const Recorder::Abandoned& abandoned) {
        if (abandoned.reason == Recorder::Abandoned::Reason::Stopped) {
            throw std::runtime_error("stopped before the recording began");
        }
        throw;
    }
}

Document::StreamInfo ToRecord(const IProject::StreamInfo& stream, const std::string& name) {
    Document::StreamInfo record;
    record.type = stream.type;
    record.index = stream.index;
    record.group = stream.group;
    record.name = name;
    return record;
}

// The closing note: what was left out, and whose doing it was.
void ReportDrops(const Recorder::RecordingCounters& counters) {
    const std::int64_t dropped = counters.framesDropped;
    const std::int64_t whileStopped = counters.framesLostWhileStopped;
    const std::int64_t all = dropped + whileStopped + counters.framesWritten;
    if (dropped > 0) {
        std::cerr << "lumo: " << dropped << " of " << all
                  << " pictures dropped: the machine could not keep up" << std::endl;
    }
    if (counters.framesRepeated > 0) {
        std::cerr << "lumo: " << counters.framesRepeated << " of " << counters.framesWritten
                  << " pictures repeat the one before: no new one was captured in time"
                  << std::endl;
    }
    if (counters.stoppedMicroseconds > 0) {
        std::cerr << "lumo: the process was stopped for "
                  << std::llround(counters.stoppedMicroseconds / 1e5) / 10.0 << " s; "
                  << whileStopped << " pictures of that span were left out" << std::endl;
    }
}

// "wayland", an X11 display, or (for "auto" and no value) what the session is.
std::string ChooseScreen(const std::string& asked) {
    if (!asked.empty() && asked != "auto") {
        return asked;
    }
    if (Recorder::InWaylandSession()) {
        return "wayland";
    }
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) {
        throw std::runtime_error(
            "no screen to record: neither WAYLAND_DISPLAY nor DISPLAY is set; name one with "
            "--screen");
    }
    return display;
}

void RunRecord(RecordOptions options) {
    StopSignals stopSignals;
    // Each sound source by its group: mic, mic2, ..., system (a sink's monitor).
    std::vector<std::pair<std::string, std::string>> sounds;
    for (std::size_t n = 0; n < options.mics.size(); ++n) {
        sounds.emplace_back(n == 0 ? "mic" : "mic" + std::to_string(n + 1), options.mics[n]);
    }
    if (options.systemAudio) {
        sounds.emplace_back("system", options.systemAudio->empty()
                                          ? "@DEFAULT_MONITOR@"
                                          : *options.systemAudio + ".monitor");
    }
    if (options.display) {
        options.display = ChooseScreen(*options.display);
    }
    const bool wayland = options.display == "wayland";
    if (!wayland && (options.window || options.noCursor || options.forgetScreen)) {
        throw std::runtime_error(
            "--window, --no-cursor and --forget-screen apply to Wayland screens only");
    }
    Recorder::WaylandRequest cast;
    const bool live = options.display || !sounds.empty();
    // The devices are opened before anything is created, so a wrong name leaves nothing behind;
    // the sound first, since it buffers what it hears while the screen opens.
    std::vector<std::unique_ptr<Source>> mics;
    std::unique_ptr<Source> screen;
    for (const auto& [group, name] : sounds) {
        mics.push_back(
            OpenDevice([name = name] { return Recorder::OpenPulseSource(name); }, stopSignals,
                       "the PulseAudio source '" + name + "' gave no sound within 10 s"));
    }
    if (wayland) {
        cast.region = Recorder::ParseRegion(options.region);
        cast.fps = options.fps;
        cast.window = options.window;
        cast.cursor = !options.noCursor;
        cast.forgetToken = options.forgetScreen;
        screen = OpenDevice([cast] { return Recorder::OpenWayland(cast); }, stopSignals,
                            "the desktop's screen-cast dialog got no answer within 10 minutes",
                            kDialogLimit);
    } else if (options.display) {
        const Recorder::ScreenRequest request{*options.display,
                                              Recorder::ParseRegion(options.region), options.fps};
        screen =
            OpenDevice([request] { return Recorder::OpenScreen(request); }, stopSignals,
                       "the X11 display '" + *options.display + "' did not answer within 10 s");
    }
    if (!live) {
        screen = Recorder::OpenTestPattern();
        mics.push_back(Recorder::OpenTestTone());
        sounds.emplace_back("mic", "");
    }

    RecordingProject project(options.directory, options.folder);
    std::vector<Recorder::Track> tracks;
    std::vector<Document::StreamInfo> records;
    if (screen) {
        const IProject::StreamInfo stream = project.AddStream(MediaType::Video, "screen");
        records.push_back(ToRecord(stream, !live     ? "test pattern"
                                           : wayland ? "Wayland screen cast"
                                                     : "X11 display " + *options.display));
        tracks.push_back({std::move(screen), stream});
    }
    for (std::size_t n = 0; n < mics.size(); ++n) {
        const IProject::StreamInfo stream = project.AddStream(MediaType::Audio, sounds[n].first);
        records.push_back(
            ToRecord(stream, live ? "PulseAudio " + sounds[n].second : "440 Hz tone"));
        tracks.push_back({std::move(mics[n]), stream});
    }
    // A folder's stream files need no document: each holds one stream, named by its group.
    const std::string tag = options.folder ? "" : Document::StreamInfoToString(records);

    std::vector<std::string> files;
    for (const Recorder::Track& track : tracks) {
        files.push_back(track.stream.path.utf8string());
    }
    ProgressLine progress(!options.quiet && isatty(STDERR_FILENO), files);
    PauseKey pauseKey;
    std::unique_ptr<Recorder::Recording> recording;
    double recorded = 0.0;
    try {
        recording =
            std::make_unique<Recorder::Recording>(std::move(tracks), tag, project.NextName());
        recording->Run(
            options.secondsGiven || !live ? std::optional(options.seconds) : std::nullopt,
            [&](double seconds) {
                recorded = seconds;
                // Both are read each time: neither may keep its news for the next tick.
                if (stopSignals.PauseToggled() | pauseKey.Pressed()) {
                    recording->SetPaused(!recording->Paused());
                }
                progress.Update(seconds, recording->Counters(), recording->Paused());
                // The desktop's "stop sharing" ends it as Ctrl-C does.
                return !stopSignals.Arrived() && !cast.ended->load();
            },
            [&stopSignals] { return stopSignals.Continued(); });
    } catch (...) {
        progress.End();
        // Whatever was kept is the user's: say where it is, then why it ended early.
        if (recording && !recording->Files().empty()) {
            project.PrintPath(std::cout);
        } else {
            project.Abandon();
        }
        throw;
    }
    progress.Update(recorded, recording->Counters(), false, true);
    progress.End();
    if (!options.quiet) {
        ReportDrops(recording->Counters());
    }
    project.PrintPath(std::cout);
}

}  // namespace

void AddRecordCommand(CLI::App& app, Command& selected) {
    auto options = std::make_shared<RecordOptions>();
    CLI::App* command = app.add_subcommand(
        "record",
        "Record the screen and a microphone (or, without --screen and --mic, a test pattern "
        "and a tone) into a new project in DIR; SIGUSR1, or the p key on a terminal, pauses "
        "and resumes");
    command->add_option("DIR", options->directory, "Directory to create the project in")
        ->required();
    command->add_flag("--folder", options->folder,
                      "A folder with one file per stream instead of one media-container file");
    const CLI::Validator finite(
        [](std::string& text) {
            char* end = nullptr;
            const double value = std::strtod(text.c_str(), &end);
            return end != text.c_str() && !std::isfinite(value) ? "not a number of seconds"
                                                                : std::string();
        },
        "FINITE");
    CLI::Option* seconds =
        command
            ->add_option("--seconds", options->seconds,
                         "Length of the recording, pauses not counted (test signals: 3; real "
                         "sources: until Ctrl-C, SIGTERM or SIGHUP)")
            ->type_name("N")
            ->check(finite & CLI::Range(0.04, 86400.0));
    const CLI::Validator notEmpty(
        [](std::string& text) { return text.empty() ? "must not be empty" : std::string(); },
        "NOT EMPTY");
    CLI::Option* screen = command
                              ->add_option("--screen", options->display,
                                           "Record the screen: an X11 display such as :0, "
                                           "'wayland' (through the desktop's screen-cast "
                                           "portal), or 'auto' (the default: the session's kind)")
                              ->type_name("[DISPLAY|wayland|auto]")
                              ->expected(0, 1)
                              ->default_str("auto")
                              ->check(notEmpty);
    command->add_flag("--window", options->window, "Wayland: share a window instead of a monitor")
        ->needs(screen);
    command->add_flag("--no-cursor", options->noCursor, "Wayland: leave the pointer out")
        ->needs(screen);
    command
        ->add_flag("--forget-screen", options->forgetScreen,
                   "Wayland: forget what was shared before, so the desktop asks again")
        ->needs(screen);
    command->add_option("--region", options->region, "Record only this rectangle of the screen")
        ->type_name("WxH+X+Y")
        ->check(CLI::Validator(
            [](std::string& text) {
                return Recorder::ParseRegion(text) ? std::string()
                                                   : "not a rectangle WxH+X+Y: " + text;
            },
            "WxH+X+Y"))
        ->needs(screen);
    command->add_option("--fps", options->fps, "Pictures a second of the screen recording")
        ->capture_default_str()
        ->type_name("N")
        ->check(CLI::Range(1, 120))
        ->needs(screen);
    command
        ->add_option("--mic", options->mics,
                     "Record the PulseAudio source SOURCE: default, or a name that "
                     "'pactl list short sources' shows; may be given more than once")
        ->type_name("SOURCE")
        ->check(notEmpty);
    command
        ->add_option("--system-audio", options->systemAudio,
                     "Record what the PulseAudio sink SINK plays (its monitor); the default "
                     "sink when no SINK is given")
        ->type_name("[SINK]")
        ->expected(0, 1)
        ->default_str("");
    command->add_flag("-q,--quiet", options->quiet, "No progress line and no closing note");
    command->callback([options, seconds, &selected] {
        options->secondsGiven = seconds->count() > 0;
        // A bare --screen means "auto"; an empty value passes the check above unseen.
        if (options->display && options->display->empty()) {
            throw CLI::ValidationError("--screen", "must not be empty");
        }
        selected = {[options] { RunRecord(*options); }, options->directory};
    });
}

}  // namespace Vantor::Lumo::Tool
