#pragma once

#include <regex>
#include <string>

#include "Platform/Plinth/ioPath.h"
#include "Platform/VantorExport.h"

namespace Vantor::Lumo {

// Decimal text of one more than the largest index that entries of the directory carry in the
// pattern's capture group 1; "1" when none does.
VANTOR_API std::string GetNextAvaliableIndex(const ioPath& directory, const std::regex& pattern);

}  // namespace Vantor::Lumo
