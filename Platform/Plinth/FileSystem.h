#pragma once

/// @file
/// Disposing of files and trees: the trash and deletion.

#include "Platform/Plinth/ioPath.h"
#include "Platform/VantorExport.h"

/// The platform's core services: versions and the disk operations that dispose of projects.
namespace Vantor::Core {

/// Moves the file, directory or link (never what it points to) at `path` to the freedesktop.org
/// trash, where desktop file managers and `trash-restore` find it. The trash is the home trash
/// (`$XDG_DATA_HOME/Trash`, else `$HOME/.local/share/Trash`, else the account's home from the
/// password database; the variables are read at every call) when the item is on the home's
/// file system, otherwise `$topdir/.Trash/$uid` (only under a sticky `.Trash` that is no link)
/// or `$topdir/.Trash-$uid` at the top of the item's own file system. The info file is written
/// and flushed before the item moves; a name already in the trash gets a numbered suffix, and
/// nothing is ever replaced. Items are never copied across file systems.
///
/// Returns true when the item is in the trash. Returns false, leaving the item where it is,
/// when nothing is at `path` (an empty or missing path, a missing parent), when `path` names
/// ".", "..", "/", a mount point, the trash or something holding it, or when no trash on the
/// item's file system can be used; all but the first are logged at WARNING, with the prefix
/// `Vantor::Core::MoveToTrash: `. Never throws; logs nothing on success. Thread-safe.
VANTOR_API bool MoveToTrash(const ioPath& path);

/// Deletes the file, link or directory tree at `path`. Links are removed, never followed, also
/// with a trailing slash ("link/" removes the link). The walk goes by descriptor, so a tree of
/// any depth goes, and an entry that another process removes meanwhile counts as removed.
///
/// Returns true when nothing is left at `path`. Returns false when nothing was there to begin
/// with (a missing or empty path), for a path whose last component is "." or "..", or "/"
/// (refused with a WARNING), and when part of the tree could not be removed; the rest is then
/// removed, and the first failure is logged at WARNING with the prefix
/// `Vantor::Core::RemoveDir: `. Never throws. Thread-safe.
VANTOR_API bool RemoveDir(const ioPath& path);

}  // namespace Vantor::Core
