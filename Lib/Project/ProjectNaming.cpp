#include "Lib/Project/ProjectNaming.h"

#include <regex>

#include <boost/format.hpp>

#include "Platform/Shelf/IndexSearch.h"

namespace Vantor::Lumo {

namespace {

const std::string kDefaultProjectExtension = ".mkv";
const std::string kDefaultProjectName = "KorvelProject";

}  // namespace

std::string GetDefaultProjectExtension() {
    return kDefaultProjectExtension;
}

std::string GetDefaultProjectName() {
    return kDefaultProjectName;
}

ioPath GenerateProjectPath(const ioPath& directory) {
    return GenerateProjectPath(directory, kDefaultProjectName, kDefaultProjectExtension);
}

ioPath GenerateProjectPath(const ioPath& directory, const std::string& name,
                           const std::string& extension) {
    boost::format fileNameTemplate(name + "%1%" + extension);
    // Only the extension's leading dot is escaped; the name is a pattern of its own.
    const std::string escapedExtension = extension.empty() ? std::string() : "\\" + extension;
    const std::regex pattern(name + "(\\d+)" + escapedExtension, std::regex_constants::icase);
    const std::string index = GetNextAvaliableIndex(directory, pattern);
    return directory / ioPath((fileNameTemplate % index).str());
}

}  // namespace Vantor::Lumo
