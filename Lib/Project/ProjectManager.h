#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Lib/Project/IProjectManager.h"
#include "Lib/Project/LumoExport.h"
#include "Platform/Host/IFileManager.h"
#include "Platform/Plinth/NotNull.h"

namespace Vantor::Lumo {

class LUMO_API ProjectManager : public IProjectManager {
public:
    // What the selector asks CreateProject to make; any other value makes nothing.
    enum class ProjectType : std::int32_t { MediaContainer = 0, Folder = 1 };

    // Throws std::logic_error when `fileManager` is empty. The selector may be empty until
    // CreateProject needs it.
    ProjectManager(const std::shared_ptr<IFileManager>& fileManager,
                   const std::function<ProjectType()>& projectTypeSelector);
    ProjectManager(const ProjectManager&) = delete;
    ProjectManager& operator=(const ProjectManager&) = delete;
    ~ProjectManager() override;

    std::vector<std::string> GetVideoProjectExtensions() const override;
    std::vector<std::string> GetImageProjectExtensions() const override;
    bool IsVideoProject(const ioPath& path) const override;
    bool IsImageProject(const ioPath& path) const override;
    // A fresh, collision-free project of the selected kind in `directory`, made current.
    // A file-system error becomes IProject::CanNotCreateDirForProjectException(directory).
    void CreateProject(const ioPath& directory, const std::string& name,
                       const std::string& extension) override;
    // A directory opens as a folder project, anything else as a media container. On failure
    // no project is current and the exception is rethrown unchanged.
    void LoadProject(const ioPath& path) override;
    bool RemoveCurrentProject(RemoveType type) override;
    std::shared_ptr<IProject> GetCurrentProject() const override;
    void Reset() override;

private:
    std::shared_ptr<IProject> currentProject;
    NotNull<std::shared_ptr<IFileManager>> fileManager;
    std::function<ProjectType()> projectTypeSelector;
};

}  // namespace Vantor::Lumo
