#pragma once

#include <ostream>
#include <string>

#include <nlohmann/json.hpp>

#include "Lib/Project/IProject.h"

namespace Vantor::Lumo::Tool {

std::string MediaTypeName(MediaType type);  // "video", "audio", ...

// Kind, path, size, version and the stream table, for people.
void PrintProject(std::ostream& out, const IProject& project);

// The same data as one JSON object; an absent version is null.
nlohmann::json ProjectToJson(const IProject& project);

}  // namespace Vantor::Lumo::Tool
