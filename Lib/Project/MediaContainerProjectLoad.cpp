#include <stdexcept>

#include <glog/logging.h>

#include "App/IPC/LumoIntegration/FormatFile.h"
#include "Lib/Project/MediaContainerProjectImpl.h"
#include "Platform/Plinth/ThrowWithCallStack.h"

namespace Vantor::Lumo {

namespace {

constexpr double kPipScaleWithoutMetadata = 0.2;

bool IsAudioOrVideo(MediaType type) {
    return type == MediaType::Video || type == MediaType::Audio;
}

MediaType MediaTypeOf(const Proc::IStreamReader& reader, std::uint32_t index) {
    return reader.GetStream(index)->GetMediaType();
}

}  // namespace

void MediaContainerProject::Impl::LoadInfo() {
    // Outside the handler: a file that cannot be read at all is the caller's failure.
    const boost::intrusive_ptr<Proc::IStreamReader> reader = CreateStreamReader(path);
    try {
        const boost::intrusive_ptr<const Conf::IFormatFile> formatFile = reader->GetFormatFile();
        if (!formatFile->ExistsVantorSpecificMetadata() ||
            formatFile->GetVantorSpecificMetadata().empty()) {
            LoadWithoutMetadata(reader);
            return;
        }
        const std::vector<Lumoreel::FormatFile::StreamInfo> records =
            Lumoreel::FormatFile::GetStreamInfo(formatFile);
        if (records.size() != reader->GetStreamCount()) {
            LUMO_THROW_MESSAGE(std::domain_error, "Description error: invalid count streams");
        }
        for (std::uint32_t i = 0; i < reader->GetStreamCount(); ++i) {
            const MediaType type = MediaTypeOf(*reader, i);
            if (!IsAudioOrVideo(type)) {
                LUMO_THROW_MESSAGE(std::domain_error, "Description error: unsupported stream type");
            }
            const Lumoreel::FormatFile::StreamInfo& record = records[i];
            if (record.type != type) {
                LUMO_THROW_MESSAGE(
                    std::domain_error,
                    "Description error: matea stream type does not match readed stream type");
            }
            IProject::StreamInfo stream;
            stream.path = path;
            stream.type = type;
            stream.index = static_cast<std::int32_t>(i);
            stream.group = record.group;
            stream.pip_position = record.pip_position;
            stream.pip_scale = record.pip_scale;
            info.streams.push_back(std::move(stream));
        }
    } catch (...) {
        LOG(WARNING) << "Deprecated or invalid LRM Project.";
        LoadWithoutMetadata(reader);
    }
}

void MediaContainerProject::Impl::LoadWithoutMetadata(
    const boost::intrusive_ptr<Proc::IStreamReader>& reader) {
    LOG(INFO) << "Load project without metadata";
    info.version = Core::Version(0);
    info.streams.clear();
    for (std::uint32_t i = 0; i < reader->GetStreamCount(); ++i) {
        IProject::StreamInfo stream;
        stream.path = path;
        stream.type = MediaTypeOf(*reader, i);
        stream.index = static_cast<std::int32_t>(i);
        stream.pip_scale = kPipScaleWithoutMetadata;
        info.streams.push_back(std::move(stream));
    }
}

}  // namespace Vantor::Lumo
