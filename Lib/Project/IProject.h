#pragma once

/// @file
/// The project interface shared by both project kinds, its value types and its typed failures.

#include <cstdint>
#include <string>
#include <vector>

#include "Lib/Project/LumoExport.h"
#include "Platform/Plinth/Exception.h"
#include "Platform/Plinth/MediaType.h"
#include "Platform/Plinth/Version.h"
#include "Platform/Plinth/ioPath.h"

/// The project library: projects, the project manager and the naming of new projects.
namespace Vantor::Lumo {

/// How IProject::Remove disposes of a project. Only the value 1 moves to the trash: any other
/// value, including ones outside the enumeration, deletes from disk.
enum class RemoveType : std::int32_t {
    FromDisk = 0,    ///< Delete the project's files for good.
    MoveToTrash = 1  ///< Move the project to the freedesktop.org trash, from where it can be
                     ///< restored.
};

/// A recording's home on disk, whatever its kind: a FolderProject (a directory with one file
/// per stream) or a MediaContainerProject (one container file). Projects are made only by the
/// kinds' factories or by ProjectManager, and are owned through `std::shared_ptr<IProject>`;
/// a project lives until its last holder lets go, and destroying it touches nothing on disk.
///
/// A project holds no file open between calls. It is not thread-safe: a caller that shares
/// one between threads serialises the calls.
///
/// The order of the operations below is part of the library's binary interface.
class LUMO_API IProject {
public:
    /// One stream of a project: where its data lives and what it is.
    struct StreamInfo {
        /// The file that holds the stream's data: the stream's own file inside a folder
        /// project, or the container file itself, the same for every stream of a
        /// media-container project.
        ioPath path;
        /// The stream's media type, MediaType::Video or MediaType::Audio. A description read
        /// from a container without a usable metadata document copies whatever the container
        /// holds, so other types can appear there.
        MediaType type = MediaType::None;
        /// Position of the stream inside the file at #path, from 0: always 0 in a folder
        /// project, the stream's position among the container's streams otherwise.
        std::int32_t index = 0;
        /// The label given to AddStream, such as "screen" or "mic"; for a container that was
        /// opened, the "group" of its metadata document, empty without one.
        std::string group;
        /// Picture-in-picture position, opaque text passed on from the metadata document;
        /// empty for a stream just added and for a container without a usable document.
        std::string pip_position;
        /// Picture-in-picture scale from the metadata document (0.2 where it gives none); 0.0
        /// for a stream just added, 0.2 for a container without a usable document.
        double pip_scale = 0.0;
    };

    /// The stream description of a whole project.
    struct Info {
        /// Version of the description. All four parts are absent (-1) for a folder project,
        /// a new media-container project and one described by its metadata document; it is
        /// version 0 when the description was built from the container's streams alone,
        /// without a usable document. One exception: a container with no streams at all whose
        /// document is damaged keeps all four parts absent, since there is nothing to rebuild.
        Core::Version version;
        /// The streams, in order of StreamInfo::index.
        std::vector<StreamInfo> streams;
    };

    /// Base of the typed failures of project creation. `what()` carries no message of its
    /// own: the type, #path and the attached call stack are the whole description.
    ///
    /// Each is thrown through `BOOST_THROW_EXCEPTION`, so it can be caught as its own type, as
    /// IProject::Exception, as `Vantor::Exception`, as `boost::exception` or as
    /// `std::exception`. `boost::diagnostic_information(e)` gives the throwing function, file
    /// and line, and `boost::get_error_info<Vantor::CallStackInfo>(e)` the call stack text.
    struct LUMO_API Exception : public Vantor::Exception {
        /// Sets #path. The library attaches the call stack (Vantor::CallStackInfo) as it throws.
        explicit Exception(const ioPath& path);
        /// Copies the path and the attached error information.
        Exception(const Exception&);
        ~Exception() override;

        /// The path the failure concerns: the project's own path, or the directory argument
        /// when ProjectManager::CreateProject reports a file-system error.
        ioPath path;
    };

    /// Something, a file or a directory, already exists where a media-container project was
    /// to be created. Thrown by MediaContainerProject::CreateProject.
    struct LUMO_API ProjectAlreadyExistsException : public Exception {
        /// Sets #path.
        explicit ProjectAlreadyExistsException(const ioPath& path);
        /// Copies the path and the attached error information.
        ProjectAlreadyExistsException(const ProjectAlreadyExistsException&);
        ~ProjectAlreadyExistsException() override;
    };

    /// A directory for a new project could not be made. Thrown by
    /// MediaContainerProject::CreateProject when the file's directory is missing and the file
    /// manager cannot create it (the path is the project's), and by
    /// ProjectManager::CreateProject for any file-system error (the path is its directory).
    struct LUMO_API CanNotCreateDirForProjectException : public Exception {
        /// Sets #path.
        explicit CanNotCreateDirForProjectException(const ioPath& path);
        /// Copies the path and the attached error information.
        CanNotCreateDirForProjectException(const CanNotCreateDirForProjectException&);
        ~CanNotCreateDirForProjectException() override;
    };

    /// The directory of a new media-container project does not accept a new file (no write
    /// permission, a read-only file system, ...). Thrown by
    /// MediaContainerProject::CreateProject.
    struct LUMO_API CanNotCreateProjectFileException : public Exception {
        /// Sets #path.
        explicit CanNotCreateProjectFileException(const ioPath& path);
        /// Copies the path and the attached error information.
        CanNotCreateProjectFileException(const CanNotCreateProjectFileException&);
        ~CanNotCreateProjectFileException() override;
    };

    virtual ~IProject();

    /// Returns the project's stream description: always an empty one for a folder project;
    /// for a media-container project the streams read when it was opened followed by those
    /// added since. Logs nothing.
    virtual Info GetInfo() const = 0;

    /// Returns the project's path: the directory of a folder project, the container file of
    /// a media-container project. It stays the same after Remove.
    virtual ioPath GetPath() const = 0;

    /// Returns the bytes the project occupies on disk: the size of its file, or the sizes of
    /// all regular files under its directory. Symbolic links are not followed and unreadable
    /// parts are skipped; 0 when nothing is there. Never throws; logs nothing.
    virtual std::int64_t GetSize() const = 0;

    /// Moves the project to the trash when `type` is RemoveType::MoveToTrash, and deletes it
    /// from disk for any other value. Returns true when this call removed the project, and false
    /// when the removal failed, logged at ERROR, not thrown. The kinds differ on a project that
    /// is already gone: a media-container project answers true without logging, a folder
    /// project false (there was nothing to remove), with its ERROR line. An exception from the
    /// host's IFileManager (media-container projects) passes through unchanged. The object
    /// stays usable afterwards and keeps answering from memory.
    virtual bool Remove(RemoveType type) = 0;

    /// Returns where, and as which stream, the recorder writes a new stream of `type` labelled
    /// `group`. Nothing is created on disk and nothing is logged; the kinds differ in the path
    /// and index they give and in the types they accept.
    virtual StreamInfo AddStream(MediaType type, const std::string& group) = 0;
};

}  // namespace Vantor::Lumo
