#pragma once

/// @file
/// MediaContainerProject, the project kind that is one media-container file.

#include <memory>
#include <string>

#include "Lib/Project/IProject.h"
#include "Lib/Project/LumoExport.h"
#include "Platform/Host/IFileManager.h"
#include "Platform/Plinth/NotNull.h"

namespace Vantor::Lumo {

/// A project kept as one media-container file (`.mkv` by default) whose streams are told
/// apart by the metadata document in its `VANTOR_SPECIFIC_METADATA` tag (see
/// Lumoreel::FormatFile). The recorder writes the file and the document; the project checks
/// where the file goes, describes its streams, and sizes or removes it. Existence checks,
/// directory creation and removal go through the host's file manager, which the project shares
/// for its whole life. Two things probe the local disk directly, whatever the file manager:
/// CreateProject() asks Util::CanCreateFileIn() whether the directory takes a new file, and
/// GetSize() reads the size with Util::GetPathSize(). A host whose file manager is virtual
/// must therefore also keep the path valid on the local disk.
///
/// Its log lines begin with the qualified name of the function, such as
/// `Vantor::Lumo::MediaContainerProject::CreateProject: `; PATH below stands for the project
/// path. Exceptions of the file manager pass through unchanged.
class LUMO_API MediaContainerProject : public IProject {
public:
    /// Checks that a file can be created at `path` and returns a project for it, with an empty
    /// description. Creates the file's directory through `fileManager` when it is missing, and
    /// nothing else: the recorder writes the file. Logs at INFO "try create project 'PATH'"
    /// and "project 'PATH' successfully created".
    ///
    /// @throws IProject::ProjectAlreadyExistsException when something exists at `path`,
    ///   after the ERROR line "Project already exists".
    /// @throws IProject::CanNotCreateDirForProjectException when the directory is missing and
    ///   cannot be created, after the ERROR line "can not create project path 'PATH'".
    /// @throws IProject::CanNotCreateProjectFileException when the directory does not accept
    ///   a new file, after the ERROR line "can not create file in the project path 'PATH'".
    ///   A directory made on the way stays.
    ///
    /// Each exception carries `path` and the call stack.
    static std::shared_ptr<IProject> CreateProject(
        const ioPath& path, const NotNull<std::shared_ptr<IFileManager>>& fileManager);

    /// Opens the existing container at `path` and reads its stream description: the
    /// container's streams, in order, with the group and pip settings of its metadata
    /// document. When the document is missing, empty, damaged, of another major version or
    /// does not match the streams, the description comes from the streams alone (empty groups,
    /// pip scale 0.2, version 0) and the INFO line "Load project without metadata" is logged,
    /// preceded by the WARNING line "Deprecated or invalid LRM Project." when a document was
    /// there but unusable: twice when the document itself is defective (the reader and the
    /// loader each log it), once when it only does not fit the streams. A container with no
    /// streams whose document is defective is the exception: its description stays empty with
    /// all four version parts absent, and only the reader's one WARNING is logged. Only the
    /// file's header is read; nothing is written.
    ///
    /// @throws boost::wrapexcept<std::runtime_error> when the file is missing, is not a
    ///   regular file (a FIFO, a device, a directory) or is not a container FFmpeg can read;
    ///   the message names the path and the reason, and carries no call stack. A reader
    ///   installed with `SetStreamReaderFactory` throws its own exceptions.
    static std::shared_ptr<IProject> OpenProject(
        const ioPath& path, const NotNull<std::shared_ptr<IFileManager>>& fileManager);

    MediaContainerProject(const MediaContainerProject&) = delete;
    MediaContainerProject& operator=(const MediaContainerProject&) = delete;
    /// Releases the description and the project's share of the file manager; the file stays.
    ~MediaContainerProject() override;

    /// Returns the streams read when the project was opened, followed by those added since.
    Info GetInfo() const override;
    ioPath GetPath() const override;
    std::int64_t GetSize() const override;

    /// Moves the file to the trash through the file manager (RemoveType::MoveToTrash) or
    /// removes it (any other value). Returns true at once, logging nothing, when no file is
    /// there. Otherwise logs at INFO "remove (move to trash) project 'PATH'" or
    /// "remove (from disk) project 'PATH'", and returns false when the file manager failed,
    /// after the ERROR line "Can't remove project 'PATH'".
    bool Remove(RemoveType type) override;

    /// Returns the container path with the next stream index (0, 1, ... in call order, after
    /// the streams read at open), the given type and group, an empty pip position and a pip
    /// scale of 0.0, and appends that record to the description. Any type is accepted and
    /// stored as given. Touches no file and logs nothing.
    StreamInfo AddStream(MediaType type, const std::string& group) override;

private:
    struct Impl;

    LUMO_HIDDEN explicit MediaContainerProject(const std::shared_ptr<IFileManager>& fileManager);

    std::unique_ptr<Impl> impl;
};

}  // namespace Vantor::Lumo
