#pragma once

#include <string>

#include <boost/filesystem/path.hpp>

#include "Platform/VantorExport.h"

namespace Vantor {

// A file-system path held as UTF-8 text; the value type at every interface of the library.
class VANTOR_API ioPath {
public:
    ioPath();
    ioPath(const std::string& utf8);  // NOLINT: implicit by design, paths are built from text
    ioPath(const char* utf8);         // NOLINT
    ioPath operator/(const ioPath& other) const;
    std::string utf8string() const;
    bool exists() const;        // throws boost::filesystem::filesystem_error on failure
    bool is_directory() const;  // likewise
    ioPath parent_path() const;
    ioPath extension() const;  // ".mkv", empty when none
    bool empty() const;
    static bool create_directories(const ioPath& path);  // true when created; throws on error
    friend VANTOR_API bool operator==(const ioPath&, const ioPath&);
    friend VANTOR_API bool operator!=(const ioPath&, const ioPath&);

private:
    boost::filesystem::path path_;
};

}  // namespace Vantor
