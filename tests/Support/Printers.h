#pragma once

#include <ostream>

#include "Platform/Plinth/ioPath.h"

namespace Vantor {

// Readable GoogleTest output for paths.
inline void PrintTo(const ioPath& path, std::ostream* out) {
    *out << '"' << path.utf8string() << '"';
}

}  // namespace Vantor
