#pragma once

/// @file
/// LocalFileManager, an IFileManager on the local disk.

#include "Platform/Host/IFileManager.h"
#include "Platform/VantorExport.h"

namespace Vantor::Lumo {

/// IFileManager on the local disk, as IFileManager describes each operation. Every operation
/// answers false instead of throwing, and logs the reason of a false answer as a WARNING line
/// beginning "LocalFileManager: ". Keeps no state, so one may serve several threads at once.
class VANTOR_API LocalFileManager final : public IFileManager {
public:
    /// Copies by content, never replacing anything; a copy that fails is removed again.
    /// Sockets, pipes and devices are refused, and so is a directory copied into itself.
    bool Copy(const ioPath& from, const ioPath& to) override;
    /// Renames, refusing to replace anything. Across file systems it copies and then removes
    /// the source; a source that cannot be removed stays beside its complete copy (false).
    bool Move(const ioPath& from, const ioPath& to) override;
    /// Follows links; false for anything it cannot examine.
    bool IsFile(const ioPath& path) override;
    /// Follows links; false for anything it cannot examine.
    bool IsDirectory(const ioPath& path) override;
    /// Through Vantor::Core::MoveToTrash, the freedesktop.org trash.
    bool MoveToTrash(const ioPath& path) override;
    /// A file or link by unlink, a directory through Vantor::Core::RemoveDir.
    bool Remove(const ioPath& path) override;
    /// Does not follow links: a dangling link exists.
    bool Exists(const ioPath& path) override;
    /// With missing parents; true when the directory was already there.
    bool CreateDirectory(const ioPath& path) override;
};

}  // namespace Vantor::Lumo
