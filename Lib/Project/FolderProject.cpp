#include "Lib/Project/FolderProject.h"

#include <stdexcept>

#include <glog/logging.h>
#include <boost/format.hpp>

#include "Lib/Project/ProjectNaming.h"
#include "Platform/Hinge/PathUtils.h"
#include "Platform/Plinth/FileSystem.h"
#include "Platform/Plinth/ThrowWithCallStack.h"

namespace Vantor::Lumo {

namespace {

constexpr char kCreateProject[] = "Vantor::Lumo::FolderProject::CreateProject: ";
constexpr char kOpenProject[] = "Vantor::Lumo::FolderProject::OpenProject: ";
constexpr char kRemove[] = "Vantor::Lumo::FolderProject::Remove: ";

}  // namespace

std::shared_ptr<IProject> FolderProject::CreateProject(const ioPath& path,
                                                       const std::string& extension) {
    const std::string text = path.utf8string();
    LOG(INFO) << kCreateProject << "try create project '" << text << "'";
    if (path.exists()) {
        LOG(ERROR) << kCreateProject << "Project already exists";
        LUMO_THROW_MESSAGE(std::logic_error,
                           "Create project error: project already exists " + text);
    }
    if (!ioPath::create_directories(path)) {
        LOG(ERROR) << kCreateProject << "can not create project path '" << text << "'";
        LUMO_THROW_MESSAGE(std::logic_error,
                           "Could not create project directory with path " + text);
    }
    LOG(INFO) << kCreateProject << "project '" << text << "' created success";
    return OpenProject(path, extension);
}

std::shared_ptr<IProject> FolderProject::OpenProject(const ioPath& path,
                                                     const std::string& extension) {
    const std::string text = path.utf8string();
    LOG(INFO) << kOpenProject << "try open project '" << text << "'";
    if (!path.exists()) {
        LOG(INFO) << kOpenProject << "project not exists '" << text << "'";
        LUMO_THROW_MESSAGE(std::logic_error, "Project file " + text + " doesn't exists!");
    }
    std::shared_ptr<IProject> project(new FolderProject(path, extension));
    LOG(INFO) << kOpenProject << "project '" << text << "' opened success";
    return project;
}

FolderProject::FolderProject(const ioPath& path, const std::string& extension)
    : path(path), extension(extension) {}

FolderProject::FolderProject(const FolderProject& other) = default;

FolderProject& FolderProject::operator=(const FolderProject& other) = default;

FolderProject::~FolderProject() = default;

IProject::Info FolderProject::GetInfo() const {
    return Info();
}

ioPath FolderProject::GetPath() const {
    return path;
}

std::int64_t FolderProject::GetSize() const {
    return Util::GetPathSize(path);
}

bool FolderProject::Remove(RemoveType type) {
    const bool toTrash = type == RemoveType::MoveToTrash;
    const std::string text = path.utf8string();
    LOG(INFO) << kRemove << "remove (" << (toTrash ? "move to trash" : "from disk") << ") project '"
              << text << "'";
    const bool removed = toTrash ? Core::MoveToTrash(path) : Core::RemoveDir(path);
    if (!removed) {
        LOG(ERROR) << kRemove << "Can't remove project '" << text << "'";
    }
    return removed;
}

IProject::StreamInfo FolderProject::AddStream(MediaType type, const std::string& group) {
    ioPath fileName;
    if (type == MediaType::Video) {
        fileName = GenerateVideoSourcePath(group);
    } else if (type == MediaType::Audio) {
        fileName = GenerateAudioSourcePath(group);
    } else {
        LUMO_THROW_MESSAGE(std::logic_error, "Project error: Unsupported stream type");
    }
    StreamInfo stream;
    stream.path = path / fileName;
    stream.type = type;
    stream.index = 0;
    stream.group = group;
    stream.pip_position.clear();
    stream.pip_scale = 0.0;
    return stream;
}

namespace {

// The group is an argument of the template, so a percent sign in it is copied verbatim.
ioPath StreamFileName(const std::string& group, const std::string& extension) {
    const std::string& fileExtension = extension.empty() ? GetDefaultProjectExtension() : extension;
    return ioPath((boost::format("%1%" + fileExtension) % group).str());
}

}  // namespace

ioPath FolderProject::GenerateAudioSourcePath(const std::string& group) const {
    return StreamFileName(group, extension);
}

ioPath FolderProject::GenerateVideoSourcePath(const std::string& group) const {
    return StreamFileName(group, extension);
}

}  // namespace Vantor::Lumo
