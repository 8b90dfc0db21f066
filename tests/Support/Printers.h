#pragma once

// Readable GoogleTest output for the platform's value types.

#include <ostream>

#include "Platform/Plinth/MediaType.h"
#include "Platform/Plinth/Version.h"
#include "Platform/Plinth/ioPath.h"

namespace Vantor {

inline void PrintTo(const ioPath& path, std::ostream* out) {
    *out << '"' << path.utf8string() << '"';
}

inline void PrintTo(MediaType type, std::ostream* out) {
    *out << "MediaType(" << static_cast<int>(type) << ")";
}

namespace Core {
inline void PrintTo(const Version& version, std::ostream* out) {
    *out << "Version(" << version.parts[0] << ", " << version.parts[1] << ", " << version.parts[2]
         << ", " << version.parts[3] << ")";
}
}  // namespace Core

}  // namespace Vantor
