#include "App/IPC/LumoIntegration/FormatFile.h"

#include <stdexcept>
#include <utility>

#include <glog/logging.h>
#include <nlohmann/json.hpp>

#include "Platform/Plinth/ThrowWithCallStack.h"
#include "Platform/Plinth/Version.h"

namespace Vantor::Lumoreel::FormatFile {

namespace {

using Json = nlohmann::json;

constexpr char kRootKey[] = "lrmp";
constexpr char kVersionKey[] = "version";
constexpr char kStreamsKey[] = "stream_infos";
constexpr char kTypeKey[] = "type";
constexpr char kGroupKey[] = "group";
constexpr char kNameKey[] = "name";
constexpr char kScaleFactorKey[] = "scale_factor";
constexpr char kPipPositionKey[] = "pip_position";
constexpr char kPipScaleKey[] = "pip_scale";

constexpr char kAudioLabel[] = "audio";
constexpr char kVideoLabel[] = "video";
constexpr char kPipGroup[] = "pip";

// The JSON rules every document must meet. A breach throws, and GetStreamInfo turns any throw
// into its one warning, so these texts only help whoever steps through with a debugger. A
// breach stands where the JSON library's own type error would; like one it carries no call
// stack, since symbolising a stack costs far more than reading the document.
#define THROW_DOCUMENT_DEFECT(text) BOOST_THROW_EXCEPTION(std::domain_error(text))

// A missing member, or any member of null, reads as null.
const Json& Member(const Json& value, const char* name) {
    static const Json kNull;
    if (value.is_null()) {
        return kNull;
    }
    if (!value.is_object()) {
        THROW_DOCUMENT_DEFECT(std::string("Description error: no member '") + name + "' in a " +
                              value.type_name());
    }
    const auto found = value.find(name);
    return found == value.end() ? kNull : *found;
}

// Any value other than null, an array or an object counts as one element, which then cannot
// be taken, so a scalar "stream_infos" fails while {} means no streams.
std::size_t ElementCount(const Json& value) {
    if (value.is_null()) {
        return 0;
    }
    return value.is_array() || value.is_object() ? value.size() : 1;
}

const Json& Element(const Json& value, std::size_t position) {
    if (!value.is_array()) {
        THROW_DOCUMENT_DEFECT(std::string("Description error: no element in a ") +
                              value.type_name());
    }
    return value[position];
}

std::string Text(const Json& value) {
    if (!value.is_string()) {
        THROW_DOCUMENT_DEFECT(std::string("Description error: ") + value.type_name() +
                              " where text belongs");
    }
    return value.get<std::string>();
}

// Booleans are not numbers here, though nlohmann::json would convert them.
double Number(const Json& value) {
    if (!value.is_number()) {
        THROW_DOCUMENT_DEFECT(std::string("Description error: ") + value.type_name() +
                              " where a number belongs");
    }
    return value.get<double>();
}

MediaType TypeFromLabel(const std::string& label) {
    if (label == kAudioLabel) {
        return MediaType::Audio;
    }
    if (label == kVideoLabel) {
        return MediaType::Video;
    }
    LUMO_THROW_MESSAGE(std::domain_error, "Description error: unsupported stream type");
}

StreamInfo DecodeRecord(const Json& element, std::int32_t position) {
    StreamInfo record;
    record.type = TypeFromLabel(Text(Member(element, kTypeKey)));
    record.index = position;
    record.group = Text(Member(element, kGroupKey));
    record.name = Text(Member(element, kNameKey));
    if (record.type == MediaType::Video) {
        record.scale_factor = Number(Member(element, kScaleFactorKey));
        // Half a picture-in-picture setting is ignored rather than half applied.
        if (element.contains(kPipPositionKey) && element.contains(kPipScaleKey)) {
            record.pip_position = Text(Member(element, kPipPositionKey));
            record.pip_scale = Number(Member(element, kPipScaleKey));
        }
    }
    return record;
}

// Decodes a whole document text, or throws at its first defect.
std::vector<StreamInfo> DecodeDocument(const std::string& text) {
    // nlohmann::json takes a NUL byte for the end of the input and would ignore whatever
    // follows it; JSON text has no place for one, so it is a defect like any other.
    if (text.find('\0') != std::string::npos) {
        THROW_DOCUMENT_DEFECT("Description error: NUL byte in the document");
    }
    // Strict: anything after the value, or invalid UTF-8 inside a string, is an error.
    // Deep nesting needs no guard: nlohmann::json parses and destroys without recursion, and
    // nothing here copies, compares or dumps the parsed value (those do recurse), so nesting
    // costs heap, not stack.
    const Json document = Json::parse(text);
    const Json& root = Member(document, kRootKey);

    const auto version = Util::VersionFromString(Text(Member(root, kVersionKey)), ".");
    // Any 1.x is readable; a later major version may mean something else by the same members.
    if (Util::ShrinkVersion(version, 1) != Core::Version(1)) {
        LUMO_THROW_MESSAGE(std::domain_error, "Unsupported LRM Project version");
    }

    const Json& streams = Member(root, kStreamsKey);
    const std::size_t count = ElementCount(streams);
    std::vector<StreamInfo> records;
    for (std::size_t position = 0; position < count; ++position) {
        // Element() fails first for anything but an array, so only array sizes reach here, and
        // a JSON array with more than INT32_MAX elements does not fit in memory anyway.
        const Json& element = Element(streams, position);
        records.push_back(DecodeRecord(element, static_cast<std::int32_t>(position)));
    }
    return records;
}

}  // namespace

std::vector<StreamInfo> GetStreamInfo(
    const boost::intrusive_ptr<const Conf::IFormatFile>& formatFile) {
    // Whatever goes wrong, the caller gets no records rather than some of them.
    try {
        if (!formatFile) {
            BOOST_THROW_EXCEPTION(std::invalid_argument("no format file"));
        }
        const std::string text = formatFile->GetVantorSpecificMetadata();
        if (text.empty()) {
            return {};
        }
        return DecodeDocument(text);
    } catch (...) {
        LOG(WARNING) << "Deprecated or invalid LRM Project.";
        return {};
    }
}

std::string StreamInfoToString(const std::vector<StreamInfo>& infos) {
    Json document;
    Json& root = document[kRootKey];
    root[kVersionKey] = Util::VersionToString(Core::Version(1, 0), 0, ".");

    for (const StreamInfo& info : infos) {
        Json element;
        element[kTypeKey] = info.type == MediaType::Audio ? kAudioLabel : kVideoLabel;
        element[kGroupKey] = info.group;
        element[kNameKey] = info.name;
        if (info.type == MediaType::Video) {
            element[kScaleFactorKey] = info.scale_factor;
            if (info.group == kPipGroup) {
                element[kPipScaleKey] = info.pip_scale;
                element[kPipPositionKey] = info.pip_position;
            }
        }
        root[kStreamsKey].push_back(std::move(element));
    }

    // Compact, and std::map keeps members in byte order of their names; NaN and infinity
    // come out as null.
    return document.dump();
}

}  // namespace Vantor::Lumoreel::FormatFile
