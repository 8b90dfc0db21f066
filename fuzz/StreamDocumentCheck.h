#pragma once

// What one input of fuzz_stream_document must satisfy. Shared by the fuzz target and by the
// regression suite that replays the corpus without libFuzzer, so both check the same thing.

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <boost/intrusive_ptr.hpp>

#include "App/IPC/LumoIntegration/FormatFile.h"
#include "Platform/Plinth/RefCountable.h"
#include "Platform/Tagset/IFormatFile.h"

namespace Vantor::Fuzzing {

// A format file whose maker-specific metadata is the text it was made with.
class FixedFormatFile final : public RefCounted, public Conf::IFormatFile {
public:
    static boost::intrusive_ptr<const Conf::IFormatFile> Holding(std::string metadata) {
        return boost::intrusive_ptr<const Conf::IFormatFile>(
            new FixedFormatFile(std::move(metadata)));
    }

    bool ExistsVantorSpecificMetadata() const override { return true; }
    std::string GetVantorSpecificMetadata() const override { return metadata_; }

private:
    explicit FixedFormatFile(std::string metadata) : metadata_(std::move(metadata)) {}
    ~FixedFormatFile() override = default;

    std::string metadata_;
};

// Reads `document` as a format file's metadata. GetStreamInfo must not throw (an escaping
// exception is a finding in itself); its records must be numbered by position and be audio or
// video; and what StreamInfoToString writes for them must read back the same. Returns the
// first broken promise as text, or an empty string.
inline std::string CheckStreamDocument(const std::string& document) {
    using Lumoreel::FormatFile::GetStreamInfo;
    using Lumoreel::FormatFile::StreamInfo;
    using Lumoreel::FormatFile::StreamInfoToString;

    const std::vector<StreamInfo> records = GetStreamInfo(FixedFormatFile::Holding(document));
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (records[i].index != static_cast<std::int32_t>(i)) {
            return "record " + std::to_string(i) + " has index " + std::to_string(records[i].index);
        }
        if (records[i].type != MediaType::Audio && records[i].type != MediaType::Video) {
            return "record " + std::to_string(i) + " is neither audio nor video";
        }
    }

    const std::vector<StreamInfo> reread =
        GetStreamInfo(FixedFormatFile::Holding(StreamInfoToString(records)));
    if (reread.size() != records.size()) {
        return "rewritten document gives " + std::to_string(reread.size()) +
               " records instead of " + std::to_string(records.size());
    }
    for (std::size_t i = 0; i < records.size(); ++i) {
        const StreamInfo& before = records[i];
        const StreamInfo& after = reread[i];
        const bool video = before.type == MediaType::Video;
        // The writer stores picture-in-picture settings for the "pip" group only.
        const bool pip = video && before.group == "pip";
        if (after.type != before.type || after.index != before.index ||
            after.group != before.group || after.name != before.name ||
            (video && after.scale_factor != before.scale_factor) ||
            (pip &&
             (after.pip_position != before.pip_position || after.pip_scale != before.pip_scale))) {
            return "record " + std::to_string(i) + " changes when written and read back";
        }
    }
    return {};
}

}  // namespace Vantor::Fuzzing
