#pragma once

// Absolute paths taken apart and put together as text, without touching the disk (but for
// RealPath). Private to VantorPlatform.

#include <optional>
#include <string>

namespace Vantor::Detail {

// The directory part of an absolute path: "/a/b" gives "/a", "/a" gives "/".
std::string ParentOf(const std::string& absolute);

// `directory` + "/" + `name`, without doubling the slash of the root.
std::string Join(const std::string& directory, const std::string& name);

// True when `path` is `directory` or lies below it; both absolute and canonical.
bool IsSameOrInside(const std::string& path, const std::string& directory);

// `path` with its trailing slashes dropped ("/" stays): "link/" would name what the link
// points to, not the link.
std::string WithoutTrailingSlashes(std::string path);

// The last component of `path`, after WithoutTrailingSlashes; "." and ".." are returned as such.
std::string LastComponent(const std::string& path);

// The canonical form of an existing path, links resolved; nullopt when it cannot be resolved.
std::optional<std::string> RealPath(const std::string& path);

}  // namespace Vantor::Detail
