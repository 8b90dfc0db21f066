#pragma once

/// @file
/// ProjectManager, the implementation of IProjectManager that an application constructs.

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

/// The project manager: owns the current project, shares the host's file manager with the
/// media-container projects it makes, and asks a caller-supplied selector which kind of
/// project CreateProject() makes. Its operations are described at IProjectManager.
///
/// Not copyable and not thread-safe; see IProjectManager.
class LUMO_API ProjectManager : public IProjectManager {
public:
    /// The kind of project the selector asks CreateProject() to make. A selector may return
    /// any other value, and CreateProject() then makes nothing.
    enum class ProjectType : std::int32_t {
        MediaContainer = 0,  ///< A MediaContainerProject: one file named with the extension.
        Folder = 1           ///< A FolderProject: a directory whose name has no extension.
    };

    /// Makes a manager without a current project that works through `fileManager` and asks
    /// `projectTypeSelector` for the kind of each new project. The selector may be empty as
    /// long as CreateProject() is not called.
    ///
    /// @throws std::logic_error "NotNull can not initialized by null" when `fileManager` is
    ///   empty (a plain exception, without call stack).
    ProjectManager(const std::shared_ptr<IFileManager>& fileManager,
                   const std::function<ProjectType()>& projectTypeSelector);
    ProjectManager(const ProjectManager&) = delete;
    ProjectManager& operator=(const ProjectManager&) = delete;
    /// Releases the selector, the file manager and the manager's share of the current
    /// project; a project that callers still hold lives on, and nothing on disk is touched.
    ~ProjectManager() override;

    std::vector<std::string> GetVideoProjectExtensions() const override;
    std::vector<std::string> GetImageProjectExtensions() const override;
    bool IsVideoProject(const ioPath& path) const override;
    bool IsImageProject(const ioPath& path) const override;
    void CreateProject(const ioPath& directory, const std::string& name,
                       const std::string& extension) override;
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
