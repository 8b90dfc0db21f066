#pragma once

#include "Platform/Host/IFileManager.h"
#include "Platform/VantorExport.h"

namespace Vantor::Lumo {

// IFileManager on the local disk. Every operation answers false instead of throwing.
class VANTOR_API LocalFileManager final : public IFileManager {
public:
    bool Copy(const ioPath& from, const ioPath& to) override;
    bool Move(const ioPath& from, const ioPath& to) override;
    bool IsFile(const ioPath& path) override;
    bool IsDirectory(const ioPath& path) override;
    bool MoveToTrash(const ioPath& path) override;  // the freedesktop.org trash
    bool Remove(const ioPath& path) override;       // a file, or a directory with its content
    bool Exists(const ioPath& path) override;
    bool CreateDirectory(const ioPath& path) override;  // with missing parents; true if it exists
};

}  // namespace Vantor::Lumo
