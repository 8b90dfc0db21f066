#pragma once

#include <cstdint>

#include <QString>

#include "Platform/Plinth/ioPath.h"
#include "Platform/VantorExport.h"

namespace Vantor::Util {

// Apparent bytes of a file or of a whole tree; links not followed; 0 when absent; never throws.
VANTOR_API std::int64_t GetPathSize(const ioPath& path);
// Creates and removes a uniquely named probe file.
VANTOR_API bool CanCreateFileIn(const QString& directory);

}  // namespace Vantor::Util
