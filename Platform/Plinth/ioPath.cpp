#include "Platform/Plinth/ioPath.h"

#include <boost/filesystem/operations.hpp>

namespace Vantor {

namespace fs = boost::filesystem;

ioPath::ioPath() = default;

ioPath::ioPath(const std::string& utf8) : path_(utf8) {}

ioPath::ioPath(const char* utf8) : path_(utf8 ? utf8 : "") {}

ioPath ioPath::operator/(const ioPath& other) const {
    return ioPath((path_ / other.path_).string());
}

std::string ioPath::utf8string() const {
    return path_.string();
}

bool ioPath::exists() const {
    return fs::exists(fs::symlink_status(path_)) || fs::exists(path_);
}

bool ioPath::is_directory() const {
    return fs::is_directory(path_);
}

ioPath ioPath::parent_path() const {
    return ioPath(path_.parent_path().string());
}

ioPath ioPath::extension() const {
    return ioPath(path_.extension().string());
}

bool ioPath::empty() const {
    return path_.empty();
}

bool ioPath::create_directories(const ioPath& path) {
    return fs::create_directories(path.path_);
}

bool operator==(const ioPath& left, const ioPath& right) {
    return left.path_ == right.path_;
}

bool operator!=(const ioPath& left, const ioPath& right) {
    return !(left == right);
}

}  // namespace Vantor
