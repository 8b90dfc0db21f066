#include <iostream>
#include <memory>

#include "Lib/Project/ProjectManager.h"
#include "Platform/Host/LocalFileManager.h"
#include "tools/lumo/Commands.h"
#include "tools/lumo/ProjectPrinter.h"

namespace Vantor::Lumo::Tool {

namespace {

struct InfoOptions {
    std::string path;
    bool json = false;
};

void RunInfo(const InfoOptions& options) {
    ProjectManager projects(std::make_shared<LocalFileManager>(), nullptr);
    projects.LoadProject(options.path);
    const IProject& project = *projects.GetCurrentProject();
    if (options.json) {
        // Paths need not be UTF-8; JSON must be.
        std::cout << ProjectToJson(project).dump(2, ' ', false,
                                                 nlohmann::json::error_handler_t::replace)
                  << '\n';
    } else {
        PrintProject(std::cout, project);
    }
}

}  // namespace

void AddInfoCommand(CLI::App& app, Command& selected) {
    auto options = std::make_shared<InfoOptions>();
    CLI::App* command = app.add_subcommand(
        "info", "Open a project and print its kind, path, size, version and streams");
    command->add_option("PATH", options->path, "A project directory or media-container file")
        ->required();
    command->add_flag("--json", options->json, "Print one JSON object");
    command->callback([options, &selected] {
        selected = {[options] { RunInfo(*options); }, options->path};
    });
}

}  // namespace Vantor::Lumo::Tool
