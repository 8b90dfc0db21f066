#pragma once

#include "Platform/Plinth/ioPath.h"
#include "Platform/VantorExport.h"

namespace Vantor::Lumo {

// The host application's file operations, handed to the library at construction.
class VANTOR_API IFileManager {
public:
    virtual ~IFileManager() = default;
    virtual bool Copy(const ioPath& from, const ioPath& to) = 0;
    virtual bool Move(const ioPath& from, const ioPath& to) = 0;
    virtual bool IsFile(const ioPath& path) = 0;
    virtual bool IsDirectory(const ioPath& path) = 0;
    virtual bool MoveToTrash(const ioPath& path) = 0;
    virtual bool Remove(const ioPath& path) = 0;
    virtual bool Exists(const ioPath& path) = 0;
    virtual bool CreateDirectory(const ioPath& path) = 0;
};

}  // namespace Vantor::Lumo
