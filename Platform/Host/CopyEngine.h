#pragma once

// Copying files and trees for LocalFileManager::Copy and the cross-device Move. Private to
// VantorPlatform.

#include <boost/filesystem/path.hpp>
#include <boost/system/error_code.hpp>

namespace Vantor::Detail {

// Copies `from` to `to`, which must not exist yet: a regular file with its content and mode, a
// link as a link (never followed), a directory with everything in it (its mode set last).
// Sockets, pipes and devices are refused. Stops at the first failure and sets `error`. Returns
// whether `to` was created, so that a failed copy can be undone with RemoveCreated.
bool CopyEntry(const boost::filesystem::path& from, const boost::filesystem::path& to,
               boost::system::error_code& error);

// Removes what a failed CopyEntry left at `path`, a tree included; false when something stays.
bool RemoveCreated(const boost::filesystem::path& path);

}  // namespace Vantor::Detail
