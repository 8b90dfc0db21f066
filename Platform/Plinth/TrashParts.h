#pragma once

// The parts of MoveToTrash (freedesktop.org Trash specification 1.0), one file each: locating
// the item (TrashItem.cpp), choosing the trash on its file system (TrashLocation.cpp), naming
// the entry (TrashNaming.cpp) and the entry transaction (TrashEntry.cpp). Private to
// VantorPlatform.

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>

#include "Platform/Plinth/Descriptors.h"

namespace Vantor::Core::Trash {

// Every line the trash writes begins with this.
constexpr char kLog[] = "Vantor::Core::MoveToTrash: ";
constexpr char kInfoSuffix[] = ".trashinfo";
constexpr std::size_t kInfoSuffixLength = sizeof(kInfoSuffix) - 1;

// The item as the trash sees it: its canonical directory and its own name, never followed.
struct Item {
    std::string directory;
    std::string name;
    std::string absolute;
    Detail::UniqueFd directoryFd;
    struct stat status {};
    bool isDirectory = false;
};

// The item at `text` (relative to the working directory unless absolute); nullopt when
// nothing is there or it may not be trashed (".", "..", "/"), with a WARNING for the latter.
std::optional<Item> LocateItem(const std::string& text);

// An opened trash: its files/ and info/ directories, held by descriptor.
struct TrashDirectory {
    std::string path;    // canonical
    std::string topdir;  // empty for the home trash, whose Path lines are absolute
    Detail::UniqueFd files;
    Detail::UniqueFd info;
};

// The trash for an item on device `device` in the canonical `directory`: the home trash
// ($XDG_DATA_HOME/Trash, else ~/.local/share/Trash, both read at every call) when it is on that
// device, otherwise $topdir/.Trash/$uid (a sticky, non-link .Trash only) or
// $topdir/.Trash-$uid. Creates what is missing; nullopt, after a WARNING, when none is usable.
std::optional<TrashDirectory> OpenTrashFor(dev_t device, const std::string& directory);

// Candidate names in files/: "clip.mkv", "clip.2.mkv", "clip.3.mkv"... A directory keeps its
// dots ("Recording 1.5" becomes "Recording 1.5.2"). Names are shortened, never inside a UTF-8
// sequence, so that NAME.trashinfo still fits into `nameMax` bytes.
class NameSequence {
public:
    NameSequence(const std::string& name, bool isDirectory, std::size_t nameMax);

    const std::string& Stem() const { return stem_; }
    const std::string& Extension() const { return extension_; }
    // Number 1 is the name itself; N > 1 inserts ".N" before the extension.
    std::string Candidate(long number) const;

private:
    std::string stem_;
    std::string extension_;
    std::size_t nameMax_;
};

// RFC 2396: everything but unreserved characters and the path separator is escaped.
std::string PercentEncode(const std::string& text);

// The .trashinfo text for the item at `original` (absolute, or relative to the trash's top
// directory), deleted at `deletionDate` ("YYYY-MM-DDThh:mm:ss", local time).
std::string InfoText(const std::string& original, const std::string& deletionDate);

// The current local time as a DeletionDate.
std::string LocalDeletionDate();

// Moves the item into files/ under the first free name, its info file written and flushed
// first. False, after a WARNING, when the item is or holds the trash, or when any step fails;
// the item then stays where it is and no info file is left behind.
bool MoveIntoTrash(const Item& item, const TrashDirectory& trash);

}  // namespace Vantor::Core::Trash
