#pragma once

#include <functional>
#include <string>

#include <CLI/CLI.hpp>

namespace Vantor::Lumo::Tool {

// What the command line asked for: the work, and the path a failure of it is about.
struct Command {
    std::function<void()> run;
    std::string subject;
};

// Each adds its subcommand to `app` and, once the command line selects it, fills `selected`.
void AddNewCommand(CLI::App& app, Command& selected);
void AddInfoCommand(CLI::App& app, Command& selected);
void AddRemoveCommand(CLI::App& app, Command& selected);
void AddRecordCommand(CLI::App& app, Command& selected);
void AddDocCommand(CLI::App& app, Command& selected);

}  // namespace Vantor::Lumo::Tool
