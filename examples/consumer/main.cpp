// The recorder's road through the library: a new project, two streams, their document.
#include <iostream>
#include <memory>

#include "App/IPC/LumoIntegration/FormatFile.h"
#include "Lib/Project/LumoVersion.h"
#include "Lib/Project/ProjectManager.h"
#include "Lib/Project/ProjectNaming.h"
#include "Platform/Host/LocalFileManager.h"

using namespace Vantor;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: lumo-consumer DIRECTORY\n";
        return 2;
    }
    std::cout << "LumoProject " << LUMO_VERSION_STRING << "\n";
    Lumo::ProjectManager projects(std::make_shared<Lumo::LocalFileManager>(),
                                  [] { return Lumo::ProjectManager::ProjectType::MediaContainer; });
    try {
        projects.CreateProject(argv[1], Lumo::GetDefaultProjectName(), "");
        const auto project = projects.GetCurrentProject();
        std::vector<Lumoreel::FormatFile::StreamInfo> records;
        for (const auto& [type, group] :
             {std::pair{MediaType::Video, "screen"}, std::pair{MediaType::Audio, "mic"}}) {
            const Lumo::IProject::StreamInfo stream = project->AddStream(type, group);
            std::cout << "stream " << stream.index << " (" << stream.group << ") -> "
                      << stream.path.utf8string() << "\n";
            Lumoreel::FormatFile::StreamInfo record;
            record.type = stream.type;
            record.group = stream.group;
            records.push_back(record);
        }
        std::cout << "VANTOR_SPECIFIC_METADATA="
                  << Lumoreel::FormatFile::StreamInfoToString(records) << "\n";
    } catch (const Lumo::IProject::Exception& error) {
        std::cerr << "cannot create a project for " << error.path.utf8string() << "\n";
        return 1;
    }
    return 0;
}
