#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Lib/Project/LumoExport.h"
#include "Platform/Plinth/Exception.h"
#include "Platform/Plinth/MediaType.h"
#include "Platform/Plinth/Version.h"
#include "Platform/Plinth/ioPath.h"

namespace Vantor::Lumo {

// Only 1 means "move to trash"; every other value deletes from disk.
enum class RemoveType : std::int32_t { FromDisk = 0, MoveToTrash = 1 };

// What every project kind offers, whatever it keeps on disk.
class LUMO_API IProject {
public:
    struct StreamInfo {
        ioPath path;
        MediaType type = MediaType::None;
        std::int32_t index = 0;
        std::string group;
        std::string pip_position;
        double pip_scale = 0.0;
    };

    struct Info {
        Core::Version version;
        std::vector<StreamInfo> streams;
    };

    // The typed failures carry the project path; the call stack rides along as CallStackInfo.
    struct LUMO_API Exception : public Vantor::Exception {
        explicit Exception(const ioPath& path);
        Exception(const Exception&);
        ~Exception() override;

        ioPath path;
    };

    struct LUMO_API ProjectAlreadyExistsException : public Exception {
        explicit ProjectAlreadyExistsException(const ioPath& path);
        ProjectAlreadyExistsException(const ProjectAlreadyExistsException&);
        ~ProjectAlreadyExistsException() override;
    };

    struct LUMO_API CanNotCreateDirForProjectException : public Exception {
        explicit CanNotCreateDirForProjectException(const ioPath& path);
        CanNotCreateDirForProjectException(const CanNotCreateDirForProjectException&);
        ~CanNotCreateDirForProjectException() override;
    };

    struct LUMO_API CanNotCreateProjectFileException : public Exception {
        explicit CanNotCreateProjectFileException(const ioPath& path);
        CanNotCreateProjectFileException(const CanNotCreateProjectFileException&);
        ~CanNotCreateProjectFileException() override;
    };

    virtual ~IProject();
    virtual Info GetInfo() const = 0;
    virtual ioPath GetPath() const = 0;
    virtual std::int64_t GetSize() const = 0;
    virtual bool Remove(RemoveType type) = 0;
    virtual StreamInfo AddStream(MediaType type, const std::string& group) = 0;
};

}  // namespace Vantor::Lumo
