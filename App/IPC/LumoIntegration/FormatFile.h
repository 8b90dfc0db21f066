#pragma once

// The stream metadata document: the small JSON text a media container carries in its
// maker-specific metadata to tell which of its streams is which, e.g.
//   {"lrmp":{"stream_infos":[{"group":"mic","name":"","type":"audio"}],"version":"1.0"}}

#include <cstdint>
#include <string>
#include <vector>

#include <boost/intrusive_ptr.hpp>

#include "Lib/Project/LumoExport.h"
#include "Platform/Plinth/MediaType.h"
#include "Platform/Tagset/IFormatFile.h"

namespace Vantor::Lumoreel::FormatFile {

// One stream's record in the document.
struct StreamInfo {
    MediaType type = MediaType::None;
    std::int32_t index = -1;  // the record's position in the document; never written
    std::string group;        // "pip" marks a picture-in-picture stream
    std::string name;
    double scale_factor = 1.0;  // video records only
    std::string pip_position;   // opaque text, passed on unchanged
    double pip_scale = 0.2;
};

// Decodes the document held in the format file's maker-specific metadata, in document order.
// `formatFile` must not be null. Never throws: an empty metadata text gives an empty list and
// logs nothing; a document with any defect is dropped whole, giving an empty list and the one
// warning "Deprecated or invalid LRM Project.".
LUMO_API std::vector<StreamInfo> GetStreamInfo(
    const boost::intrusive_ptr<const Conf::IFormatFile>& formatFile);

// The compact document text for `infos` (version 1.0, members in byte order of their names,
// non-finite numbers as null). Texts must be UTF-8: invalid UTF-8 in a group, name or pip
// position makes nlohmann::json's serialiser throw its type_error, which reaches the caller.
LUMO_API std::string StreamInfoToString(const std::vector<StreamInfo>& infos);

}  // namespace Vantor::Lumoreel::FormatFile
