#pragma once

/// @file
/// The interface of the project manager, the application's entry point.

#include <memory>
#include <string>
#include <vector>

#include "Lib/Project/IProject.h"
#include "Lib/Project/LumoExport.h"

namespace Vantor::Lumo {

/// The application's entry point to projects: it creates a project under a fresh name, opens
/// one from a path, owns the current project and removes it, and tells video projects and
/// images apart. ProjectManager implements it.
///
/// Every operation runs on the caller's thread and returns when its work is done. A manager
/// is not thread-safe: a caller that shares one between threads serialises the calls.
/// Distinct managers may be used on distinct threads.
///
/// The order of the operations below is part of the library's binary interface.
class LUMO_API IProjectManager {
public:
    virtual ~IProjectManager();

    /// Returns the file extensions of video projects, lower case with the leading dot:
    /// `{".mkv"}`.
    virtual std::vector<std::string> GetVideoProjectExtensions() const = 0;

    /// Returns the file extensions of images, lower case with the leading dot:
    /// `{".png", ".jpeg", ".jpg", ".bmp"}`.
    virtual std::vector<std::string> GetImageProjectExtensions() const = 0;

    /// Returns true when the extension of `path`, with its letters A to Z lowered, is one of
    /// GetVideoProjectExtensions(); so "a.MKV" is a video project and a path without an
    /// extension is not. Looks only at the text, never at the disk.
    virtual bool IsVideoProject(const ioPath& path) const = 0;

    /// Returns true when the extension of `path`, with its letters A to Z lowered, is one of
    /// GetImageProjectExtensions(). Looks only at the text, never at the disk.
    virtual bool IsImageProject(const ioPath& path) const = 0;

    /// Creates a project under a fresh name in `directory` and makes it the current project.
    ///
    /// **`name` is a regular expression and a format template**, as GenerateProjectPath()
    /// says: "a+b" works once, and the next call throws ProjectAlreadyExistsException because
    /// the search for indices in use never matches "a+b1.mkv"; "take(1" throws
    /// `std::regex_error`, and "100%" a format error. Pass names of letters, digits, spaces,
    /// '-' and '_'.
    ///
    /// First `directory` is created through the file manager when it does not exist (whatever
    /// the answer, the next steps decide). Then the project-type selector chooses the kind:
    /// - ProjectManager::ProjectType::MediaContainer: the file `directory`/`name` + N +
    ///   `extension`, see GenerateProjectPath() and MediaContainerProject::CreateProject().
    ///   The file itself is not created: the recorder writes it.
    /// - ProjectManager::ProjectType::Folder: the directory `directory`/`name` + N, created
    ///   by FolderProject::CreateProject(); its stream files get `extension`.
    /// - any other value: nothing is made and the current project stays as it was.
    ///
    /// An empty `extension` means GetDefaultProjectExtension() (".mkv"); `name` is used as it
    /// is, even when empty. The new name is not reserved: until the recorder writes the file, a second call picks
    /// the same one. Logs the kind's INFO lines.
    ///
    /// @throws IProject::CanNotCreateDirForProjectException carrying `directory`, for any
    ///   `boost::filesystem::filesystem_error` on the way (for example `directory` is a file or
    ///   cannot be listed). The error is first logged at ERROR as
    ///   `Vantor::Lumo::ProjectManager::CreateProject: ` and Boost's diagnostic text, and the
    ///   manager is left without a current project.
    /// @throws std::bad_function_call when the selector is empty; the directory step has run.
    /// @throws std::regex_error when `name` is not valid as a regular expression; see
    ///   GenerateProjectPath().
    /// @throws boost::io::format_error (through `boost::wrapexcept`) for a `%` directive in
    ///   `name` or `extension`; see GenerateProjectPath().
    /// @throws IProject::Exception, one of the three typed kinds, from
    ///   MediaContainerProject::CreateProject().
    /// @throws std::logic_error from FolderProject::CreateProject().
    ///
    /// Every exception but the file-system one reaches the caller unchanged, and the current
    /// project then stays as it was.
    virtual void CreateProject(const ioPath& directory, const std::string& name,
                               const std::string& extension) = 0;

    /// Opens the project at `path` and makes it the current project. A directory opens as a
    /// FolderProject (its new stream files get ".mkv"); anything else as a
    /// MediaContainerProject, whose stream description is read from the file.
    ///
    /// A damaged or unsuitable metadata document does not fail the load: the description is
    /// then built from the container's streams alone, with the WARNING line
    /// "Deprecated or invalid LRM Project." (twice for a document that is not valid JSON or has
    /// another defect of its own, once for one that does not fit the streams) and the INFO line
    /// "Load project without metadata"; see MediaContainerProject::OpenProject() for a
    /// container without streams.
    ///
    /// On any failure the manager logs at ERROR
    /// `Vantor::Lumo::ProjectManager::LoadProject: Can't load project ` followed by the path,
    /// is left without a current project (even if it had one before) and rethrows the same
    /// exception.
    ///
    /// @throws boost::wrapexcept<std::runtime_error> from the stream reader when the file is
    ///   missing, is not a regular file (a FIFO, a device) or is not a container FFmpeg can
    ///   read; the message names the path and the reason, and carries no call stack. A reader
    ///   installed with `SetStreamReaderFactory` throws its own exceptions.
    /// @throws boost::filesystem::filesystem_error when `path` cannot be examined.
    virtual void LoadProject(const ioPath& path) = 0;

    /// Removes the current project with IProject::Remove(`type`) and, when that succeeds,
    /// forgets it. Returns true when there is no current project (nothing is called) or the
    /// removal succeeded; false when it failed, and the project then stays current. Logs the
    /// project's lines. Whatever Remove throws passes through, and the project stays current.
    virtual bool RemoveCurrentProject(RemoveType type) = 0;

    /// Returns the current project, or an empty pointer when there is none. The caller's share
    /// keeps the project alive whatever the manager does afterwards.
    virtual std::shared_ptr<IProject> GetCurrentProject() const = 0;

    /// Forgets the current project without touching the disk. Callers that hold it keep it.
    virtual void Reset() = 0;
};

}  // namespace Vantor::Lumo
