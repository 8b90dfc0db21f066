#pragma once

/// @file
/// IFileManager, the file operations a host application hands to the library.

#include "Platform/Plinth/ioPath.h"
#include "Platform/VantorExport.h"

namespace Vantor::Lumo {

/// The host application's file operations, handed to ProjectManager at construction and shared
/// with every MediaContainerProject it makes; LocalFileManager is one on the local disk. A host
/// with a virtual file system implements it to keep the library's checks and removals inside
/// that file system. (Folder projects, CanCreateFileIn and GetPathSize still use the local disk
/// directly; see MediaContainerProject.)
///
/// **Threads.** The library calls it only on the thread that called the library operation, and
/// never from two threads of its own. A host that uses several managers, or a manager and its
/// projects, on several threads at once gets concurrent calls, and must make its file manager
/// safe for them.
///
/// **Exceptions.** The operations should answer false rather than throw. The library catches
/// nothing a file manager throws: the exception reaches the caller of the library operation
/// unchanged and without the library's ERROR line, except that ProjectManager::CreateProject
/// turns a `boost::filesystem::filesystem_error` into
/// IProject::CanNotCreateDirForProjectException. A project whose removal threw stays current.
///
/// **Links.** A symbolic link at the path itself is an entry of its own: the operations below
/// say where one is followed.
///
/// The order of the operations is part of the binary interface.
class VANTOR_API IFileManager {
public:
    virtual ~IFileManager() = default;

    /// Copies the file or directory tree `from` to `to`, which must not exist yet; links inside
    /// are copied as links. Returns true when the whole copy is at `to`; false otherwise,
    /// with nothing of a partial copy left. The library never calls it.
    virtual bool Copy(const ioPath& from, const ioPath& to) = 0;

    /// Moves the file or directory `from` to `to`, which must not exist yet; a link moves as
    /// the link. Returns true when the item is at `to` and no longer at `from`; false when it
    /// stayed at `from`. The library never calls it.
    virtual bool Move(const ioPath& from, const ioPath& to) = 0;

    /// Returns true when `path` is a regular file, following links. The library never calls it.
    virtual bool IsFile(const ioPath& path) = 0;

    /// Returns true when `path` is a directory, following links. The library never calls it.
    virtual bool IsDirectory(const ioPath& path) = 0;

    /// Moves the file or directory at `path` to the recycle bin; a link goes itself, never what
    /// it points to. Returns true when it is in the bin and gone from `path`; false when it
    /// stayed. Called by MediaContainerProject::Remove(RemoveType::MoveToTrash) for the
    /// container file, after Exists() answered true.
    virtual bool MoveToTrash(const ioPath& path) = 0;

    /// Deletes the file, link (not what it points to) or directory tree at `path`. Returns true
    /// when nothing is left at `path`; false otherwise. Called by MediaContainerProject::Remove
    /// for any RemoveType other than MoveToTrash, after Exists() answered true.
    virtual bool Remove(const ioPath& path) = 0;

    /// Returns true when anything is at `path`, a dangling link included: links are not
    /// followed. Called by ProjectManager::CreateProject for its directory, and by
    /// MediaContainerProject::CreateProject (for the file and its directory) and Remove.
    virtual bool Exists(const ioPath& path) = 0;

    /// Creates the directory `path`, and may create its missing parents. Returns true when a
    /// directory (or a link to one) is at `path` afterwards, one that was already there
    /// included. ProjectManager::CreateProject ignores the answer; for
    /// MediaContainerProject::CreateProject false means
    /// IProject::CanNotCreateDirForProjectException.
    virtual bool CreateDirectory(const ioPath& path) = 0;
};

}  // namespace Vantor::Lumo
