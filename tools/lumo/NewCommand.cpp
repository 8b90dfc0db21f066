#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <memory>
#include <stdexcept>

#include "Lib/Project/ProjectManager.h"
#include "Lib/Project/ProjectNaming.h"
#include "Platform/Host/LocalFileManager.h"
#include "tools/lumo/Commands.h"

namespace Vantor::Lumo::Tool {

namespace {

struct NewOptions {
    std::string directory;
    bool folder = false;
    std::string name = GetDefaultProjectName();
    std::string extension;
};

// A media-container project is only a checked name until a recorder writes the file. Taking
// the name now keeps the path we print from being handed out again.
void ReserveEmptyFile(const std::string& path) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        throw std::runtime_error("can not reserve '" + path + "': " + std::strerror(errno));
    }
    close(fd);
}

// The library reads a name as a regular expression (to find the indices in use) and as a
// format template: "a+b" would work once and then never find its own project again.
constexpr char kMisreadCharacters[] = "^$\\.*+?()[]{}|%";

// The characters of `text` the library would misread, each once, in order; empty when none.
std::string MisreadCharactersIn(const std::string& text) {
    std::string found;
    for (const char c : text) {
        if (std::strchr(kMisreadCharacters, c) != nullptr && found.find(c) == std::string::npos) {
            found += c;
        }
    }
    return found;
}

// Refuses a name or an extension (whose one leading dot the library escapes) that holds such
// characters, and says which, and which others are refused too.
CLI::Validator LiteralText(bool isExtension) {
    return CLI::Validator(
        [isExtension](const std::string& text) -> std::string {
            const bool dotted = isExtension && !text.empty() && text.front() == '.';
            const std::string found = MisreadCharactersIn(dotted ? text.substr(1) : text);
            if (found.empty()) {
                return "";
            }
            std::string all;
            for (const char* c = kMisreadCharacters; *c != '\0'; ++c) {
                all += std::string(all.empty() ? "" : " ") + *c;
            }
            return "'" + text + "' holds " + found + ", which lumo can not use in a name (" + all +
                   " are refused)";
        },
        "", "");
}

void RunNew(const NewOptions& options) {
    const auto kind = options.folder ? ProjectManager::ProjectType::Folder
                                     : ProjectManager::ProjectType::MediaContainer;
    ProjectManager projects(std::make_shared<LocalFileManager>(), [kind] { return kind; });
    // The library takes the extension with its dot; people type both.
    const std::string extension = options.extension.empty() || options.extension.front() == '.'
                                      ? options.extension
                                      : "." + options.extension;
    projects.CreateProject(options.directory, options.name, extension);
    const std::string path = projects.GetCurrentProject()->GetPath().utf8string();
    if (kind == ProjectManager::ProjectType::MediaContainer) {
        ReserveEmptyFile(path);
    }
    std::cout << path << '\n';
}

}  // namespace

void AddNewCommand(CLI::App& app, Command& selected) {
    auto options = std::make_shared<NewOptions>();
    CLI::App* command =
        app.add_subcommand("new", "Create a project under a fresh name in DIR and print its path");
    const auto noSlash = CLI::Validator(
        [](const std::string& text) {
            return text.find('/') == std::string::npos ? "" : "a name, not a path, is expected";
        },
        "", "");
    command->footer("A media-container project's file is made empty, for a recorder to write.");
    command->add_option("DIR", options->directory, "Directory to create the project in")
        ->required();
    command->add_flag("--folder", options->folder,
                      "A folder of stream files instead of one media-container file");
    command->add_option("--name", options->name, "Project name before the index")
        ->capture_default_str()
        ->check(noSlash)
        ->check(LiteralText(false));
    command
        ->add_option("--ext", options->extension,
                     "Extension of the container (of the stream files for --folder); .mkv "
                     "when not given")
        ->check(noSlash)
        ->check(LiteralText(true));
    command->callback([options, &selected] {
        selected = {[options] { RunNew(*options); }, options->directory};
    });
}

}  // namespace Vantor::Lumo::Tool
