#pragma once

/// @file
/// The stream metadata document: the small JSON text a media container carries in its
/// `VANTOR_SPECIFIC_METADATA` tag to tell which of its streams is which, for example
///
///     {"lrmp":{"stream_infos":[{"group":"mic","name":"","type":"audio"}],"version":"1.0"}}

#include <cstdint>
#include <string>
#include <vector>

#include <boost/intrusive_ptr.hpp>

#include "Lib/Project/LumoExport.h"
#include "Platform/Plinth/MediaType.h"
#include "Platform/Tagset/IFormatFile.h"

/// Reading and writing the stream metadata document. The functions keep no state and take no
/// lock, so they may run on any thread.
namespace Vantor::Lumoreel::FormatFile {

/// One stream's record in the document.
struct StreamInfo {
    /// MediaType::Video or MediaType::Audio, written as "video" and "audio". The writer labels
    /// any other value "video", which readers then reject.
    MediaType type = MediaType::None;
    /// The record's position in the document, from 0, set by the reader; never written.
    std::int32_t index = -1;
    /// The stream's group, such as "screen" or "mic"; "pip" marks a picture-in-picture stream.
    std::string group;
    /// The stream's name; read and written, but not part of a project's description.
    std::string name;
    /// Scale factor of a video stream; video records only.
    double scale_factor = 1.0;
    /// Position of a picture-in-picture overlay, opaque text passed on unchanged. Written for
    /// video records of the group "pip" only; read for any video record that has it together
    /// with "pip_scale".
    std::string pip_position;
    /// Scale of a picture-in-picture overlay; written and read like #pip_position.
    double pip_scale = 0.2;
};

/// Decodes the document in the format file's `VANTOR_SPECIFIC_METADATA` text and returns its
/// records in document order, each with its position as StreamInfo::index. A document of any
/// 1.x version is read; other members are ignored.
///
/// Never throws. An empty text gives an empty list and logs nothing. A document with any
/// defect (not JSON, another major version, a member of the wrong type, an unknown type
/// label, a video record without "scale_factor", ...) is dropped whole: the result is an
/// empty list and the one WARNING line "Deprecated or invalid LRM Project.". A null
/// `formatFile` counts as such a defect.
LUMO_API std::vector<StreamInfo> GetStreamInfo(
    const boost::intrusive_ptr<const Conf::IFormatFile>& formatFile);

/// Returns the compact document text for `infos`, version 1.0, which a recorder stores in
/// the container's `VANTOR_SPECIFIC_METADATA` tag. Members come in byte order of their names;
/// numbers that are not finite are written as null (and make the document unreadable).
/// Logs nothing.
///
/// @throws nlohmann::json::type_error when a group, name or pip position is not valid UTF-8.
LUMO_API std::string StreamInfoToString(const std::vector<StreamInfo>& infos);

}  // namespace Vantor::Lumoreel::FormatFile
