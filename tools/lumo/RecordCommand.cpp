#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <memory>
#include <stdexcept>

#include "App/IPC/LumoIntegration/FormatFile.h"
#include "Lib/Project/ProjectManager.h"
#include "Lib/Project/ProjectNaming.h"
#include "Platform/Host/LocalFileManager.h"
#include "tools/lumo/Commands.h"
#include "tools/lumo/Recorder.h"

namespace Vantor::Lumo::Tool {

namespace {

namespace Document = Lumoreel::FormatFile;

struct RecordOptions {
    std::string directory;
    bool folder = false;
    double seconds = 3.0;
};

volatile std::sig_atomic_t interrupted = 0;

// Ctrl-C stops the recording through the normal failure road, which cleans up after it.
class StopOnInterrupt {
public:
    StopOnInterrupt()
        : previousInt_(std::signal(SIGINT, Stop)), previousTerm_(std::signal(SIGTERM, Stop)) {}
    ~StopOnInterrupt() {
        std::signal(SIGINT, previousInt_);
        std::signal(SIGTERM, previousTerm_);
    }
    StopOnInterrupt(const StopOnInterrupt&) = delete;
    StopOnInterrupt& operator=(const StopOnInterrupt&) = delete;

private:
    static void Stop(int) { interrupted = 1; }
    void (*previousInt_)(int);
    void (*previousTerm_)(int);
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
    const auto kind = options.folder ? ProjectManager::ProjectType::Folder
                                     : ProjectManager::ProjectType::MediaContainer;
    ProjectManager projects(std::make_shared<LocalFileManager>(), [kind] { return kind; });
    projects.CreateProject(options.directory, GetDefaultProjectName(), "");
    const std::shared_ptr<IProject> project = projects.GetCurrentProject();
    const IProject::StreamInfo screen = project->AddStream(MediaType::Video, "screen");
    const IProject::StreamInfo mic = project->AddStream(MediaType::Audio, "mic");
    // A folder's stream files need no document: each holds one stream, named by its group.
    const std::string tag = options.folder
                                ? ""
                                : Document::StreamInfoToString({ToRecord(screen, "test pattern"),
                                                                ToRecord(mic, "440 Hz tone")});

    const bool showProgress = isatty(STDERR_FILENO);
    const StopOnInterrupt stopOnInterrupt;
    try {
        Record({screen, mic}, tag, options.seconds, [&](double done) {
            if (interrupted) {
                throw std::runtime_error("interrupted");
            }
            if (showProgress) {
                std::fprintf(stderr, "\rrecording %.1f / %.1f s", std::min(done, options.seconds),
                             options.seconds);
            }
        });
    } catch (...) {
        if (showProgress) {
            std::fputc('\n', stderr);
        }
        // The directory a folder project made is empty again; leave nothing behind.
        if (options.folder) {
            projects.RemoveCurrentProject(RemoveType::FromDisk);
        }
        throw;
    }
    if (showProgress) {
        std::fputc('\n', stderr);
    }
    std::cout << project->GetPath().utf8string() << '\n';
}

}  // namespace

void AddRecordCommand(CLI::App& app, Command& selected) {
    auto options = std::make_shared<RecordOptions>();
    CLI::App* command = app.add_subcommand(
        "record", "Record a test pattern (screen) and a tone (mic) into a new project in DIR");
    command->add_option("DIR", options->directory, "Directory to create the project in")
        ->required();
    command->add_flag("--folder", options->folder,
                      "A folder with one file per stream instead of one media-container file");
    command->add_option("--seconds", options->seconds, "Length of the recording")
        ->capture_default_str()
        ->check(CLI::Range(0.04, 3600.0));
    command->callback([options, &selected] {
        selected = {[options] { RunRecord(*options); }, options->directory};
    });
}

}  // namespace Vantor::Lumo::Tool
