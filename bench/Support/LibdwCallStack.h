#pragma once

// The caller's stack named through elfutils' libdwfl instead of Plinth's own symbol-table
// reader, in the same line format as Vantor::GetCallStack: what the library would pay if it
// used libdw. From each module's symbol tables only, as Plinth does; no debug information.
// Not thread-safe.

#include <string>

namespace Vantor::Bench {

std::string LibdwCallStack();

}  // namespace Vantor::Bench
