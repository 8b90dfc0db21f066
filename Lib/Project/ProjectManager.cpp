#include "Lib/Project/ProjectManager.h"

#include <algorithm>
#include <cctype>

#include <glog/logging.h>
#include <boost/exception/diagnostic_information.hpp>
#include <boost/filesystem/exception.hpp>

#include "Lib/Project/FolderProject.h"
#include "Lib/Project/MediaContainerProject.h"
#include "Lib/Project/ProjectNaming.h"
#include "Platform/Plinth/ThrowWithCallStack.h"

namespace Vantor::Lumo {

namespace {

constexpr char kCreateProject[] = "Vantor::Lumo::ProjectManager::CreateProject: ";
constexpr char kLoadProject[] = "Vantor::Lumo::ProjectManager::LoadProject: ";

// Byte-wise, so only A-Z change and multi-byte UTF-8 passes through untouched.
bool HasExtensionIn(const ioPath& path, const std::vector<std::string>& extensions) {
    std::string extension = path.extension().utf8string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return std::find(extensions.begin(), extensions.end(), extension) != extensions.end();
}

}  // namespace

IProjectManager::~IProjectManager() = default;

ProjectManager::ProjectManager(const std::shared_ptr<IFileManager>& fileManager,
                               const std::function<ProjectType()>& projectTypeSelector)
    : currentProject(), fileManager(fileManager), projectTypeSelector(projectTypeSelector) {}

ProjectManager::~ProjectManager() = default;

std::vector<std::string> ProjectManager::GetVideoProjectExtensions() const {
    return {GetDefaultProjectExtension()};
}

std::vector<std::string> ProjectManager::GetImageProjectExtensions() const {
    return {".png", ".jpeg", ".jpg", ".bmp"};
}

bool ProjectManager::IsVideoProject(const ioPath& path) const {
    return HasExtensionIn(path, GetVideoProjectExtensions());
}

bool ProjectManager::IsImageProject(const ioPath& path) const {
    return HasExtensionIn(path, GetImageProjectExtensions());
}

void ProjectManager::CreateProject(const ioPath& directory, const std::string& name,
                                   const std::string& extension) {
    try {
        const std::shared_ptr<IFileManager> files = fileManager.get();
        if (!files->Exists(directory)) {
            files->CreateDirectory(directory);  // whatever it answers, the factories decide
        }
        const auto type = static_cast<std::int32_t>(projectTypeSelector());
        const std::string extensionToUse =
            extension.empty() ? GetDefaultProjectExtension() : extension;
        std::shared_ptr<IProject> project;
        if (type == static_cast<std::int32_t>(ProjectType::MediaContainer)) {
            project = MediaContainerProject::CreateProject(
                GenerateProjectPath(directory, name, extensionToUse), fileManager);
        } else if (type == static_cast<std::int32_t>(ProjectType::Folder)) {
            project = FolderProject::CreateProject(GenerateProjectPath(directory, name, ""),
                                                   extensionToUse);
        } else {
            return;
        }
        currentProject = std::move(project);
    } catch (const boost::filesystem::filesystem_error&) {
        LOG(ERROR) << kCreateProject << boost::current_exception_diagnostic_information();
        Reset();
        LUMO_THROW_PROJECT_ERROR(IProject::CanNotCreateDirForProjectException, directory);
    }
}

void ProjectManager::LoadProject(const ioPath& path) {
    try {
        if (path.is_directory()) {
            currentProject = FolderProject::OpenProject(path, "");
        } else {
            currentProject = MediaContainerProject::OpenProject(path, fileManager);
        }
    } catch (...) {
        LOG(ERROR) << kLoadProject << "Can't load project " << path.utf8string();
        Reset();
        throw;
    }
}

bool ProjectManager::RemoveCurrentProject(RemoveType type) {
    if (!currentProject) {
        return true;
    }
    if (!currentProject->Remove(type)) {
        return false;
    }
    currentProject.reset();
    return true;
}

std::shared_ptr<IProject> ProjectManager::GetCurrentProject() const {
    return currentProject;
}

void ProjectManager::Reset() {
    currentProject.reset();
}

}  // namespace Vantor::Lumo
