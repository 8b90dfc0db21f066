#pragma once

#include <string>

#include "Lib/Project/LumoExport.h"
#include "Platform/Plinth/ioPath.h"

namespace Vantor::Lumo {

LUMO_API std::string GetDefaultProjectExtension();  // ".mkv"
LUMO_API std::string GetDefaultProjectName();       // "KorvelProject"

// directory / (default name + free index + default extension).
LUMO_API ioPath GenerateProjectPath(const ioPath& directory);

// directory / (name + index + extension), the index being one that no entry of the directory
// uses yet, matched case-insensitively. Nothing is created or reserved; `name` goes into a
// regular expression and a Boost.Format template as it is, and their errors propagate.
LUMO_API ioPath GenerateProjectPath(const ioPath& directory, const std::string& name,
                                    const std::string& extension);

}  // namespace Vantor::Lumo
