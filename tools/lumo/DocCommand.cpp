#include <iostream>
#include <memory>
#include <optional>
#include <vector>

#include "App/IPC/LumoIntegration/FormatFile.h"
#include "tools/lumo/Commands.h"

namespace Vantor::Lumo::Tool {

namespace {

namespace Document = Lumoreel::FormatFile;

// "video:GROUP[:NAME]" or "audio:GROUP[:NAME]"; the name may itself hold colons.
std::optional<Document::StreamInfo> ParseRecord(const std::string& text) {
    const auto first = text.find(':');
    if (first == std::string::npos) {
        return std::nullopt;
    }
    const std::string type = text.substr(0, first);
    const auto second = text.find(':', first + 1);
    Document::StreamInfo record;
    record.type = type == "video"   ? MediaType::Video
                  : type == "audio" ? MediaType::Audio
                                    : MediaType::None;
    record.group = text.substr(first + 1, second - (first + 1));
    if (second != std::string::npos) {
        record.name = text.substr(second + 1);
    }
    if (record.type == MediaType::None || record.group.empty()) {
        return std::nullopt;
    }
    return record;
}

}  // namespace

void AddDocCommand(CLI::App& app, Command& selected) {
    auto streams = std::make_shared<std::vector<std::string>>();
    CLI::App* command = app.add_subcommand(
        "doc", "Print the stream metadata document describing the given streams, in order");
    const CLI::Validator isRecord(
        [](const std::string& text) {
            return ParseRecord(text)
                       ? std::string()
                       : "'" + text + "' is not video:GROUP[:NAME] or audio:GROUP[:NAME]";
        },
        "TYPE:GROUP[:NAME]", "");
    command
        ->add_option("STREAM", *streams,
                     "video:GROUP[:NAME] or audio:GROUP[:NAME], one per stream of the container")
        ->required()
        ->check(isRecord);
    command->callback([streams, &selected] {
        std::vector<Document::StreamInfo> records;
        for (const std::string& text : *streams) {
            records.push_back(*ParseRecord(text));
            records.back().index = static_cast<std::int32_t>(records.size() - 1);
        }
        selected = {[records] { std::cout << Document::StreamInfoToString(records) << '\n'; }, ""};
    });
}

}  // namespace Vantor::Lumo::Tool
