#include "Lib/Project/LumoVersion.h"

namespace Vantor::Lumo {

// Compiled into the library, so it tells the version of the library, whatever header the
// caller was built with.
const char* GetLibraryVersion() {
    return LUMO_VERSION_STRING;
}

}  // namespace Vantor::Lumo
