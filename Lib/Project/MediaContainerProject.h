#pragma once

#include <memory>
#include <string>

#include "Lib/Project/IProject.h"
#include "Lib/Project/LumoExport.h"
#include "Platform/Host/IFileManager.h"
#include "Platform/Plinth/NotNull.h"

namespace Vantor::Lumo {

// A project kept as one media-container file. The file itself is written by the recorder;
// the project checks where it goes, describes its streams and sizes or removes it.
class LUMO_API MediaContainerProject : public IProject {
public:
    // Checks that a file can be created at `path` (making its directory when missing);
    // creates nothing else.
    static std::shared_ptr<IProject> CreateProject(
        const ioPath& path, const NotNull<std::shared_ptr<IFileManager>>& fileManager);
    // Reads the stream description of the existing container at `path`.
    static std::shared_ptr<IProject> OpenProject(
        const ioPath& path, const NotNull<std::shared_ptr<IFileManager>>& fileManager);

    MediaContainerProject(const MediaContainerProject&) = delete;
    MediaContainerProject& operator=(const MediaContainerProject&) = delete;
    ~MediaContainerProject() override;

    Info GetInfo() const override;
    ioPath GetPath() const override;
    std::int64_t GetSize() const override;
    bool Remove(RemoveType type) override;
    // The container path and the next stream index; the record is kept in memory only.
    StreamInfo AddStream(MediaType type, const std::string& group) override;

private:
    struct Impl;

    LUMO_HIDDEN explicit MediaContainerProject(const std::shared_ptr<IFileManager>& fileManager);

    std::unique_ptr<Impl> impl;
};

}  // namespace Vantor::Lumo
