#pragma once

// The state of a media-container project; private to the library.

#include <boost/intrusive_ptr.hpp>

#include "Lib/Project/MediaContainerProject.h"
#include "Platform/Reelkit/StreamReader.h"

namespace Vantor::Lumo {

struct LUMO_HIDDEN MediaContainerProject::Impl {
    explicit Impl(const std::shared_ptr<IFileManager>& fileManager) : fileManager(fileManager) {}

    // Fills `info` from the container at `path`: the stream reader decides how many streams
    // there are and of which type, the metadata document adds their groups.
    void LoadInfo();

    NotNull<std::shared_ptr<IFileManager>> fileManager;
    ioPath path;
    IProject::Info info;

private:
    void LoadWithoutMetadata(const boost::intrusive_ptr<Proc::IStreamReader>& reader);
};

}  // namespace Vantor::Lumo
