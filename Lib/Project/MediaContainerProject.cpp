#include "Lib/Project/MediaContainerProject.h"

#include <glog/logging.h>
#include <QString>

#include "Lib/Project/MediaContainerProjectImpl.h"
#include "Platform/Hinge/PathUtils.h"
#include "Platform/Plinth/ThrowWithCallStack.h"

namespace Vantor::Lumo {

namespace {

constexpr char kCreateProject[] = "Vantor::Lumo::MediaContainerProject::CreateProject: ";
constexpr char kRemove[] = "Vantor::Lumo::MediaContainerProject::Remove: ";

}  // namespace

MediaContainerProject::MediaContainerProject(const std::shared_ptr<IFileManager>& fileManager)
    : impl(std::make_unique<Impl>(fileManager)) {}

MediaContainerProject::~MediaContainerProject() = default;

std::shared_ptr<IProject> MediaContainerProject::CreateProject(
    const ioPath& path, const NotNull<std::shared_ptr<IFileManager>>& fileManager) {
    const std::string text = path.utf8string();
    LOG(INFO) << kCreateProject << "try create project '" << text << "'";
    const std::shared_ptr<IFileManager> files = fileManager.get();
    if (files->Exists(path)) {
        LOG(ERROR) << kCreateProject << "Project already exists";
        LUMO_THROW_PROJECT_ERROR(IProject::ProjectAlreadyExistsException, path);
    }
    const ioPath directory = path.parent_path();
    if (!files->Exists(directory) && !files->CreateDirectory(directory)) {
        LOG(ERROR) << kCreateProject << "can not create project path '" << text << "'";
        LUMO_THROW_PROJECT_ERROR(IProject::CanNotCreateDirForProjectException, path);
    }
    if (!Util::CanCreateFileIn(QString::fromUtf8(directory.utf8string().c_str()))) {
        LOG(ERROR) << kCreateProject << "can not create file in the project path '" << text << "'";
        LUMO_THROW_PROJECT_ERROR(IProject::CanNotCreateProjectFileException, path);
    }
    LOG(INFO) << kCreateProject << "project '" << text << "' successfully created";
    std::shared_ptr<MediaContainerProject> project(new MediaContainerProject(fileManager));
    project->impl->path = path;
    return project;
}

std::shared_ptr<IProject> MediaContainerProject::OpenProject(
    const ioPath& path, const NotNull<std::shared_ptr<IFileManager>>& fileManager) {
    std::shared_ptr<MediaContainerProject> project(new MediaContainerProject(fileManager));
    project->impl->path = path;
    project->impl->LoadInfo();
    return project;
}

IProject::Info MediaContainerProject::GetInfo() const {
    return impl->info;
}

ioPath MediaContainerProject::GetPath() const {
    return impl->path;
}

std::int64_t MediaContainerProject::GetSize() const {
    return Util::GetPathSize(GetPath());
}

bool MediaContainerProject::Remove(RemoveType type) {
    const std::shared_ptr<IFileManager> files = impl->fileManager.get();
    if (!files->Exists(impl->path)) {
        return true;
    }
    const bool toTrash = type == RemoveType::MoveToTrash;
    const std::string text = impl->path.utf8string();
    LOG(INFO) << kRemove << "remove (" << (toTrash ? "move to trash" : "from disk") << ") project '"
              << text << "'";
    const bool removed = toTrash ? files->MoveToTrash(impl->path) : files->Remove(impl->path);
    if (!removed) {
        LOG(ERROR) << kRemove << "Can't remove project '" << text << "'";
    }
    return removed;
}

IProject::StreamInfo MediaContainerProject::AddStream(MediaType type, const std::string& group) {
    StreamInfo stream;
    stream.path = impl->path;
    stream.type = type;
    stream.index = static_cast<std::int32_t>(impl->info.streams.size());
    stream.group = group;
    stream.pip_scale = 0.0;
    impl->info.streams.push_back(stream);
    return stream;
}

}  // namespace Vantor::Lumo
