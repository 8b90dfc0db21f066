#pragma once

/// @file
/// The library's defaults and the naming of new projects.

#include <string>

#include "Lib/Project/LumoExport.h"
#include "Platform/Plinth/ioPath.h"

namespace Vantor::Lumo {

/// Returns ".mkv", the extension of new media-container projects and of a folder project's
/// stream files when the caller gives none.
LUMO_API std::string GetDefaultProjectExtension();

/// Returns "KorvelProject", the name stem an application passes for new projects.
LUMO_API std::string GetDefaultProjectName();

/// Returns GenerateProjectPath(`directory`, GetDefaultProjectName(),
/// GetDefaultProjectExtension()), such as `directory`/KorvelProject3.mkv. Throws as that does.
LUMO_API ioPath GenerateProjectPath(const ioPath& directory);

/// **`name` is a regular expression and a format template.** "a+b" gives "a+b1.mkv", and then
/// "a+b1.mkv" again, since the pattern `a+b(\d+)` never matches its own files; "take(1" throws
/// `std::regex_error`, "100%" a format error, and "a.b" counts "aXb7.mkv" as using index 7.
/// Callers pass names of letters, digits, spaces, '-' and '_', or check them first.
///
/// Returns `directory`/(`name` + N + `extension`), where N is the decimal index one above the
/// largest that an entry of `directory` already uses, or 1 when none does (or `directory` is
/// missing). An entry uses N when its name contains `name`, the digits of N and `extension`,
/// compared without regard to case. Nothing is created or reserved, so two calls before
/// the project exists give the same path; nothing is logged.
///
/// No defaults are applied: an empty `name` gives a file name that starts with the index, an
/// empty `extension` one without extension. `name` is used as a regular expression as it is;
/// of `extension` only the first character is escaped. Both are part of a Boost.Format
/// template, in which `%%` stands for one percent sign.
///
/// @throws std::regex_error when `name`, or `extension` after its first character, is not a valid
///   regular expression, such as an unbalanced parenthesis or bracket.
/// @throws boost::io::format_error (through `boost::wrapexcept`, for example
///   `boost::io::bad_format_string` or `boost::io::too_few_args`) for a `%` directive in
///   `name` or `extension`.
/// @throws boost::filesystem::filesystem_error when `directory` exists but cannot be listed:
///   a regular file, or a directory without read permission.
LUMO_API ioPath GenerateProjectPath(const ioPath& directory, const std::string& name,
                                    const std::string& extension);

}  // namespace Vantor::Lumo
