#include <memory>
#include <stdexcept>

#include "Lib/Project/ProjectManager.h"
#include "Platform/Host/LocalFileManager.h"
#include "tools/lumo/Commands.h"

namespace Vantor::Lumo::Tool {

namespace {

struct RemoveOptions {
    std::string path;
    bool trash = false;
};

void RunRemove(const RemoveOptions& options) {
    ProjectManager projects(std::make_shared<LocalFileManager>(), nullptr);
    projects.LoadProject(options.path);
    if (!projects.RemoveCurrentProject(options.trash ? RemoveType::MoveToTrash
                                                     : RemoveType::FromDisk)) {
        throw std::runtime_error(options.trash ? "can not move the project to the trash"
                                               : "can not remove the project");
    }
}

}  // namespace

void AddRemoveCommand(CLI::App& app, Command& selected) {
    auto options = std::make_shared<RemoveOptions>();
    CLI::App* command =
        app.add_subcommand("rm", "Remove a project from disk, or move it to the trash");
    command->add_option("PATH", options->path, "A project directory or media-container file")
        ->required();
    command->add_flag("--trash", options->trash, "Move it to the trash instead of deleting it");
    command->callback([options, &selected] {
        selected = {[options] { RunRemove(*options); }, options->path};
    });
}

}  // namespace Vantor::Lumo::Tool
