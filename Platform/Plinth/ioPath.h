#pragma once

/// @file
/// ioPath, the path type at every interface.

#include <string>

#include <boost/filesystem/path.hpp>

#include "Platform/VantorExport.h"

/// The maker's platform: paths, exceptions with call stacks, versions, reference counting.
namespace Vantor {

/// A file-system path held as UTF-8 text; the value type at every interface of the library.
/// Text operations never touch the disk; exists(), is_directory() and create_directories() do.
/// A value may be used from any thread; one object is not synchronised.
class VANTOR_API ioPath {
public:
    /// The empty path.
    ioPath();
    /// The path spelled by `utf8`, taken as it is (no normalisation, no check).
    ioPath(const std::string& utf8);  // NOLINT: implicit by design, paths are built from text
    /// The path spelled by the zero-terminated `utf8`.
    ioPath(const char* utf8);  // NOLINT
    /// This path and `other` joined, with a separator between them unless one is already
    /// there: `ioPath("a") / "b.mkv"` is "a/b.mkv".
    ioPath operator/(const ioPath& other) const;
    /// The path as UTF-8 text, as it was given.
    std::string utf8string() const;
    /// True when anything is at the path, a link included even when it dangles. @throws
    /// boost::filesystem::filesystem_error when the path cannot be examined (for example a
    /// component without search permission).
    bool exists() const;
    /// True when the path is a directory or a link to one. @throws
    /// boost::filesystem::filesystem_error when the path cannot be examined.
    bool is_directory() const;
    /// The path without its last component: "a/b.mkv" gives "a", "b.mkv" the empty path.
    ioPath parent_path() const;
    /// The last component's extension from its last dot on, such as ".mkv"; empty when it has
    /// no dot.
    ioPath extension() const;
    /// True for the empty path.
    bool empty() const;
    /// Creates `path` with its missing parents. Returns true when it created the directory,
    /// false when one was already there. @throws boost::filesystem::filesystem_error when it
    /// cannot (a file in the way, no permission).
    static bool create_directories(const ioPath& path);
    /// True when both paths have the same components; nothing on disk is consulted.
    friend VANTOR_API bool operator==(const ioPath&, const ioPath&);
    /// The negation of operator==.
    friend VANTOR_API bool operator!=(const ioPath&, const ioPath&);

private:
    boost::filesystem::path path_;
};

}  // namespace Vantor
