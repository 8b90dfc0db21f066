#include "Lib/Project/IProject.h"

namespace Vantor::Lumo {

// Out of line so that the vtables and type information live in this library alone, and a
// caller catching these types across the library boundary sees the same ones.
IProject::~IProject() = default;

IProject::Exception::Exception(const ioPath& path) : path(path) {}
IProject::Exception::Exception(const Exception&) = default;
IProject::Exception::~Exception() = default;

IProject::ProjectAlreadyExistsException::ProjectAlreadyExistsException(const ioPath& path)
    : Exception(path) {}
IProject::ProjectAlreadyExistsException::ProjectAlreadyExistsException(
    const ProjectAlreadyExistsException&) = default;
IProject::ProjectAlreadyExistsException::~ProjectAlreadyExistsException() = default;

IProject::CanNotCreateDirForProjectException::CanNotCreateDirForProjectException(const ioPath& path)
    : Exception(path) {}
IProject::CanNotCreateDirForProjectException::CanNotCreateDirForProjectException(
    const CanNotCreateDirForProjectException&) = default;
IProject::CanNotCreateDirForProjectException::~CanNotCreateDirForProjectException() = default;

IProject::CanNotCreateProjectFileException::CanNotCreateProjectFileException(const ioPath& path)
    : Exception(path) {}
IProject::CanNotCreateProjectFileException::CanNotCreateProjectFileException(
    const CanNotCreateProjectFileException&) = default;
IProject::CanNotCreateProjectFileException::~CanNotCreateProjectFileException() = default;

}  // namespace Vantor::Lumo
