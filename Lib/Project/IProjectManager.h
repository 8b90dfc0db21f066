#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Lib/Project/IProject.h"
#include "Lib/Project/LumoExport.h"

namespace Vantor::Lumo {

// The application's entry point: creates, opens, owns and removes the current project.
class LUMO_API IProjectManager {
public:
    virtual ~IProjectManager();
    virtual std::vector<std::string> GetVideoProjectExtensions() const = 0;
    virtual std::vector<std::string> GetImageProjectExtensions() const = 0;
    virtual bool IsVideoProject(const ioPath& path) const = 0;
    virtual bool IsImageProject(const ioPath& path) const = 0;
    virtual void CreateProject(const ioPath& directory, const std::string& name,
                               const std::string& extension) = 0;
    virtual void LoadProject(const ioPath& path) = 0;
    virtual bool RemoveCurrentProject(RemoveType type) = 0;
    virtual std::shared_ptr<IProject> GetCurrentProject() const = 0;
    virtual void Reset() = 0;
};

}  // namespace Vantor::Lumo
