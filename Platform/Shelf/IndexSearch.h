#pragma once

/// @file
/// The search for the next free index of a name in a directory.

#include <regex>
#include <string>

#include "Platform/Plinth/ioPath.h"
#include "Platform/VantorExport.h"

namespace Vantor::Lumo {

/// Returns the decimal text of one more than the largest index that an entry of `directory`
/// uses, or "1" when none does. An entry uses an index when `std::regex_search` finds `pattern`
/// in its name and the pattern's capture group 1 matched only digits; leading zeros do not
/// count ("007" is 7), and the text is computed digit by digit, so no index is too long.
///
/// The directory is read once; links to it are followed, "." and ".." name the working
/// directory and its parent, and an empty path the working directory. A missing `directory`
/// gives "1". Entries are never "." or "..", and names without a digit are skipped.
///
/// @throws boost::filesystem::filesystem_error (through `boost::wrapexcept`) when `directory`
///   exists but cannot be listed: a regular file, a directory without read permission, or a
///   read error part way, since a partial listing could hand out an index in use.
/// @throws std::regex_error when matching exceeds the regular expression engine's limits.
/// Logs nothing. Thread-safe.
VANTOR_API std::string GetNextAvaliableIndex(const ioPath& directory, const std::regex& pattern);

}  // namespace Vantor::Lumo
