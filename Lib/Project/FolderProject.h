#pragma once

#include <memory>
#include <string>

#include "Lib/Project/IProject.h"
#include "Lib/Project/LumoExport.h"

namespace Vantor::Lumo {

// A project kept as a directory with one source file per stream.
class LUMO_API FolderProject : public IProject {
public:
    // Creates the directory (with missing parents) and opens it; fails if anything is there.
    static std::shared_ptr<IProject> CreateProject(const ioPath& path,
                                                   const std::string& extension);
    // Wraps an existing path; `extension` names the stream files, empty meaning ".mkv".
    static std::shared_ptr<IProject> OpenProject(const ioPath& path, const std::string& extension);

    FolderProject(const FolderProject& other);
    FolderProject& operator=(const FolderProject& other);
    ~FolderProject() override;

    Info GetInfo() const override;
    ioPath GetPath() const override;
    std::int64_t GetSize() const override;
    bool Remove(RemoveType type) override;
    // The file group + extension inside the project directory; nothing is created.
    StreamInfo AddStream(MediaType type, const std::string& group) override;

private:
    LUMO_HIDDEN FolderProject(const ioPath& path, const std::string& extension);
    LUMO_HIDDEN ioPath GenerateAudioSourcePath(const std::string& group) const;
    LUMO_HIDDEN ioPath GenerateVideoSourcePath(const std::string& group) const;

    ioPath path;
    std::string extension;
};

}  // namespace Vantor::Lumo
