#pragma once

/// @file
/// FolderProject, the project kind that is a directory of stream files.

#include <memory>
#include <string>

#include "Lib/Project/IProject.h"
#include "Lib/Project/LumoExport.h"

namespace Vantor::Lumo {

/// A project kept as a directory with one file per stream, named after the stream's group:
/// `screen.mkv`, `mic.mkv`, ... The directory is the whole project: the library writes no
/// marker or index into it and keeps no list of its streams, so GetInfo() is always empty.
///
/// Its failures are `std::logic_error`s thrown through `BOOST_THROW_EXCEPTION`
/// (`boost::wrapexcept<std::logic_error>`), whose message is the reason, a line feed and the
/// call stack. Its log lines begin with the qualified name of the function, such as
/// `Vantor::Lumo::FolderProject::CreateProject: `; PATH below stands for the project path.
class LUMO_API FolderProject : public IProject {
public:
    /// Creates the directory `path`, with any missing parents, and opens it with
    /// OpenProject(`path`, `extension`). Logs at INFO "try create project 'PATH'" and
    /// "project 'PATH' created success", then OpenProject()'s lines.
    ///
    /// @throws std::logic_error "Create project error: project already exists PATH" when
    ///   anything exists at `path`, after the ERROR line "Project already exists".
    /// @throws std::logic_error "Could not create project directory with path PATH" when the
    ///   directory was not created, after the ERROR line "can not create project path 'PATH'".
    /// @throws boost::filesystem::filesystem_error when `path` cannot be examined or created.
    static std::shared_ptr<IProject> CreateProject(const ioPath& path,
                                                   const std::string& extension);

    /// Opens the existing `path` as a folder project whose stream files get `extension`
    /// (empty meaning GetDefaultProjectExtension(), ".mkv"). Only existence is checked, so a
    /// regular file opens too. Logs at INFO "try open project 'PATH'" and
    /// "project 'PATH' opened success".
    ///
    /// @throws std::logic_error "Project file PATH doesn't exists!" when nothing is at `path`,
    ///   after the INFO line "project not exists 'PATH'".
    /// @throws boost::filesystem::filesystem_error when `path` cannot be examined.
    static std::shared_ptr<IProject> OpenProject(const ioPath& path, const std::string& extension);

    /// Makes a project with the same path and stream-file extension.
    FolderProject(const FolderProject& other);
    /// Takes the path and stream-file extension of `other`.
    FolderProject& operator=(const FolderProject& other);
    ~FolderProject() override;

    /// Returns an empty description, with the unset version, however many streams were added.
    Info GetInfo() const override;
    ioPath GetPath() const override;
    std::int64_t GetSize() const override;

    /// Moves the directory to the freedesktop.org trash (RemoveType::MoveToTrash) or deletes
    /// it with its whole content (any other value; symbolic links are removed, not followed).
    /// Logs at INFO "remove (move to trash) project 'PATH'" or "remove (from disk) project
    /// 'PATH'". Returns false when that failed, after the ERROR line
    /// "Can't remove project 'PATH'", and so also when the directory is already gone.
    bool Remove(RemoveType type) override;

    /// Returns the stream file `group` + extension inside the project directory, with index 0,
    /// the given type and group, an empty pip position and a pip scale of 0.0. The same group
    /// always gives the same file, whatever the type. Creates nothing and logs nothing.
    ///
    /// @throws std::logic_error "Project error: Unsupported stream type" when `type` is
    ///   neither MediaType::Video nor MediaType::Audio.
    /// @throws boost::io::format_error (through `boost::wrapexcept`) when the stream-file
    ///   extension holds a `%` directive; `%%` stands for one percent sign. A `%` in `group`
    ///   is copied verbatim.
    StreamInfo AddStream(MediaType type, const std::string& group) override;

private:
    LUMO_HIDDEN FolderProject(const ioPath& path, const std::string& extension);
    LUMO_HIDDEN ioPath GenerateAudioSourcePath(const std::string& group) const;
    LUMO_HIDDEN ioPath GenerateVideoSourcePath(const std::string& group) const;

    ioPath path;
    std::string extension;
};

}  // namespace Vantor::Lumo
