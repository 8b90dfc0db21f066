#include "Platform/Plinth/PathText.h"

#include <cstdlib>
#include <memory>

namespace Vantor::Detail {

std::string ParentOf(const std::string& absolute) {
    const auto slash = absolute.find_last_of('/');
    return slash == 0 || slash == std::string::npos ? "/" : absolute.substr(0, slash);
}

std::string Join(const std::string& directory, const std::string& name) {
    return directory == "/" ? "/" + name : directory + "/" + name;
}

bool IsSameOrInside(const std::string& path, const std::string& directory) {
    return path == directory ||
           (path.size() > directory.size() && path.compare(0, directory.size(), directory) == 0 &&
            (directory == "/" || path[directory.size()] == '/'));
}

std::string WithoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

std::string LastComponent(const std::string& path) {
    const std::string trimmed = WithoutTrailingSlashes(path);
    return trimmed.substr(trimmed.find_last_of('/') + 1);
}

std::optional<std::string> RealPath(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                         &std::free);
    if (!resolved) {
        return std::nullopt;
    }
    return std::string(resolved.get());
}

}  // namespace Vantor::Detail
