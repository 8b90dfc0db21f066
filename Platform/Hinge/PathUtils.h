#pragma once

/// @file
/// Sizes on disk and the check that a directory takes new files.

#include <cstdint>

#include <QString>

#include "Platform/Plinth/ioPath.h"
#include "Platform/VantorExport.h"

namespace Vantor::Util {

/// Returns the apparent size in bytes of the file at `path`, or the sum over the regular files
/// of the whole tree when it is a directory; directories themselves, links and special files
/// count 0, and links are never followed (a link at `path` gives 0). Unreadable parts, and parts
/// removed while the tree is walked, are skipped. A tree of any depth is counted; the total
/// saturates at the largest `std::int64_t`. 0 for an empty or missing path. Never throws; logs
/// nothing but an ERROR on memory exhaustion. Thread-safe.
VANTOR_API std::int64_t GetPathSize(const ioPath& path);

/// Returns true when a new file can be created in the directory `directory` (UTF-8 text, links
/// followed; "." is the working directory): creates a uniquely named hidden probe file
/// (".vantor-probe-XXXXXX", with O_EXCL, so nothing is replaced) and removes it again. False
/// for an empty path, a missing path and a path that is not a directory, and when the probe
/// cannot be created (no permission, a read-only or full file system). Works on the local disk,
/// never through an IFileManager. Never throws; logs a WARNING only when the probe cannot be
/// removed. Thread-safe.
VANTOR_API bool CanCreateFileIn(const QString& directory);

}  // namespace Vantor::Util
