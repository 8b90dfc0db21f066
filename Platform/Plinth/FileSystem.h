#pragma once

#include "Platform/Plinth/ioPath.h"
#include "Platform/VantorExport.h"

namespace Vantor::Core {

// Moves a file or directory to the freedesktop.org trash; false leaves the item untouched.
VANTOR_API bool MoveToTrash(const ioPath& path);
// Deletes the tree; symbolic links are removed, never followed.
VANTOR_API bool RemoveDir(const ioPath& path);

}  // namespace Vantor::Core
