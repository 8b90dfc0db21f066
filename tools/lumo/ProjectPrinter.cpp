#include "tools/lumo/ProjectPrinter.h"

#include <algorithm>
#include <array>
#include <optional>
#include <sstream>
#include <vector>

#include "Lib/Project/FolderProject.h"
#include "Platform/Plinth/Version.h"

namespace Vantor::Lumo::Tool {

namespace {

std::string KindName(const IProject& project) {
    return dynamic_cast<const FolderProject*>(&project) ? "folder" : "media container";
}

std::optional<std::string> VersionText(const Core::Version& version) {
    if (version == Core::Version()) {
        return std::nullopt;
    }
    return Util::VersionToString(version, 1, ".");
}

std::string ScaleText(double scale) {
    std::ostringstream text;
    text << scale;
    return text.str();
}

using Row = std::array<std::string, 6>;

Row StreamRow(const IProject::StreamInfo& stream) {
    const auto orDash = [](const std::string& text) { return text.empty() ? "-" : text; };
    return {std::to_string(stream.index), MediaTypeName(stream.type),  orDash(stream.group),
            orDash(stream.pip_position),  ScaleText(stream.pip_scale), stream.path.utf8string()};
}

void PrintTable(std::ostream& out, const std::vector<Row>& rows) {
    std::array<std::size_t, std::tuple_size<Row>::value> widths{};
    for (const Row& row : rows) {
        for (std::size_t column = 0; column < row.size(); ++column) {
            widths[column] = std::max(widths[column], row[column].size());
        }
    }
    for (const Row& row : rows) {
        std::string line;
        for (std::size_t column = 0; column < row.size(); ++column) {
            line += row[column];
            if (column + 1 < row.size()) {
                line += std::string(widths[column] - row[column].size() + 2, ' ');
            }
        }
        out << line << '\n';
    }
}

}  // namespace

std::string MediaTypeName(MediaType type) {
    switch (type) {
        case MediaType::Video:
            return "video";
        case MediaType::Audio:
            return "audio";
        case MediaType::Subtitle:
            return "subtitle";
        case MediaType::Data:
            return "data";
        case MediaType::Attachment:
            return "attachment";
        case MediaType::None:
            break;
    }
    return "none";
}

void PrintProject(std::ostream& out, const IProject& project) {
    const IProject::Info info = project.GetInfo();
    out << "kind:     " << KindName(project) << '\n'
        << "path:     " << project.GetPath().utf8string() << '\n'
        << "size:     " << project.GetSize() << " bytes\n"
        << "version:  " << VersionText(info.version).value_or("none") << '\n'
        << "streams:  " << info.streams.size();
    if (dynamic_cast<const FolderProject*>(&project)) {
        out << " (a folder project keeps one file per stream, named after its group)";
    }
    out << '\n';
    if (info.streams.empty()) {
        return;
    }
    std::vector<Row> rows{{"index", "type", "group", "pip position", "pip scale", "path"}};
    for (const IProject::StreamInfo& stream : info.streams) {
        rows.push_back(StreamRow(stream));
    }
    out << '\n';
    PrintTable(out, rows);
}

nlohmann::json ProjectToJson(const IProject& project) {
    const IProject::Info info = project.GetInfo();
    nlohmann::json streams = nlohmann::json::array();
    for (const IProject::StreamInfo& stream : info.streams) {
        streams.push_back({{"index", stream.index},
                           {"type", MediaTypeName(stream.type)},
                           {"group", stream.group},
                           {"pip_position", stream.pip_position},
                           {"pip_scale", stream.pip_scale},
                           {"path", stream.path.utf8string()}});
    }
    const std::optional<std::string> version = VersionText(info.version);
    return {{"kind", KindName(project)},
            {"path", project.GetPath().utf8string()},
            {"size", project.GetSize()},
            {"version", version ? nlohmann::json(*version) : nlohmann::json(nullptr)},
            {"streams", std::move(streams)}};
}

}  // namespace Vantor::Lumo::Tool
