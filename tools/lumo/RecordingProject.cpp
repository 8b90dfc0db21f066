#include "tools/lumo/RecordingProject.h"

#include <unistd.h>

#include <stdexcept>

#include <boost/filesystem/operations.hpp>

#include "Lib/Project/ProjectNaming.h"
#include "Platform/Host/LocalFileManager.h"

namespace Vantor::Lumo::Tool {

namespace {

// Names tried while other runs keep taking them: far more than run at once.
constexpr int kAttempts = 100;

}  // namespace

RecordingProject::RecordingProject(const std::string& directory, bool folder)
    : directory_(directory),
      folder_(folder),
      projects_(std::make_shared<LocalFileManager>(), [folder] {
          return folder ? ProjectManager::ProjectType::Folder
                        : ProjectManager::ProjectType::MediaContainer;
      }) {
    boost::system::error_code error;
    for (boost::filesystem::path missing = directory;
         !missing.empty() &&
         !boost::filesystem::exists(boost::filesystem::symlink_status(missing, error));
         missing = missing.parent_path()) {
        madeDirectories_.push_back(missing.string());
    }
    try {
        Create();
    } catch (...) {
        Abandon();
        throw;
    }
}

void RecordingProject::Create() {
    for (int attempt = 1;; ++attempt) {
        try {
            projects_.CreateProject(directory_, GetDefaultProjectName(), "");
            break;
        } catch (const IProject::ProjectAlreadyExistsException&) {
            if (attempt >= kAttempts) {
                throw;
            }
        } catch (const std::logic_error&) {
            // A folder whose name another run took between the search and the making.
            if (!folder_ || attempt >= kAttempts || !boost::filesystem::is_directory(directory_)) {
                throw;
            }
        }
    }
    for (const auto& [type, group] : streams_) {
        projects_.GetCurrentProject()->AddStream(type, group);
    }
}

IProject::StreamInfo RecordingProject::AddStream(MediaType type, const std::string& group) {
    streams_.emplace_back(type, group);
    return projects_.GetCurrentProject()->AddStream(type, group);
}

Recorder::NextName RecordingProject::NextName() {
    if (folder_) {
        return nullptr;
    }
    return [this](const std::string&) {
        Create();
        return projects_.GetCurrentProject()->GetPath().utf8string();
    };
}

void RecordingProject::PrintPath(std::ostream& out) const {
    out << projects_.GetCurrentProject()->GetPath().utf8string() << '\n';
    out.flush();
    if (!out) {
        throw std::runtime_error("can not write the recording's path to standard output");
    }
}

void RecordingProject::Abandon() {
    if (folder_ && projects_.GetCurrentProject()) {
        projects_.RemoveCurrentProject(RemoveType::FromDisk);
    }
    for (const std::string& made : madeDirectories_) {
        if (rmdir(made.c_str()) != 0) {
            break;
        }
    }
}

}  // namespace Vantor::Lumo::Tool
