// Core::MoveToTrash against the least a durable trash can do: open(O_EXCL) of the info file,
// write, fsync, rename(2). Trashing is a rename, so neither a 1 GiB file nor a folder of 1,000
// files may cost more than an empty one.
//
// Each item is made once and, after every trashing, moved back out of the trash with its info
// file removed, so every iteration trashes an item that is not in the trash, under a name the
// trash has free. The file system is flushed before each clock starts, so that the measured
// fsync commits the trash entry and not the restoring of an item. An fsync on this shared disk
// varies from one moment to the next by more than the goals' margins, so library, anchor and
// empty item are timed side by side in every iteration.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <iostream>
#include <map>
#include <stdexcept>
#include <string>
#include <system_error>

#include "Platform/Plinth/FileSystem.h"
#include "bench/Support/BenchSession.h"
#include "bench/Support/ScratchDirectory.h"
#include "bench/Support/SideBySide.h"

namespace {

using namespace Vantor;
using Bench::Figure;
using Bench::Goal;

constexpr long long kGiB = 1024LL * 1024 * 1024;
constexpr int kFolderFiles = 1000;

enum class Item { LargeFile, EmptyFile, FullFolder, EmptyFolder };

constexpr char kFile[] = "MoveToTrash beside the anchor, 1GiB file";
constexpr char kFolder[] = "MoveToTrash beside the anchor, 1000-file folder";
constexpr char kLibrary[] = "MoveToTrash";
constexpr char kAnchor[] = "info+fsync+rename";
constexpr char kEmpty[] = "MoveToTrash empty";

[[noreturn]] void ThrowErrno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

// The least a durable trash does, into a trash directory of its own: reserve the info name,
// write and flush the info file, then move the item.
class AnchorTrash {
public:
    explicit AnchorTrash(std::string directory) : directory_(std::move(directory)) {
        Bench::MakeDirectory(directory_ + "/files");
        Bench::MakeDirectory(directory_ + "/info");
        files_ = Open(directory_ + "/files");
        info_ = Open(directory_ + "/info");
    }
    ~AnchorTrash() {
        ::close(files_);
        ::close(info_);
    }
    AnchorTrash(const AnchorTrash&) = delete;
    AnchorTrash& operator=(const AnchorTrash&) = delete;

    const std::string& Directory() const { return directory_; }

    bool Trash(const std::string& path, const std::string& name) const {
        const std::string info =
            "[Trash Info]\nPath=" + path + "\nDeletionDate=2024-03-05T14:22:31\n";
        const int fd = ::openat(info_, (name + ".trashinfo").c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            return false;
        }
        const bool written =
            ::write(fd, info.data(), info.size()) == static_cast<ssize_t>(info.size()) &&
            ::fsync(fd) == 0;
        ::close(fd);
        return written && ::renameat(AT_FDCWD, path.c_str(), files_, name.c_str()) == 0;
    }

private:
    static int Open(const std::string& path) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            ThrowErrno("cannot open '" + path + "'");
        }
        return fd;
    }

    std::string directory_;
    int files_ = -1;
    int info_ = -1;
};

class Fixture {
public:
    explicit Fixture(const Bench::ScratchDirectory& scratch)
        : recordings_(scratch / "recordings"),
          homeTrash_(scratch / "data/Trash"),
          anchor_(scratch / "anchor-trash") {
        Bench::MakeDirectory(recordings_);
        // The home trash lives in the scratch directory, on the items' file system.
        Bench::MakeDirectory(scratch / "data");
        ::setenv("XDG_DATA_HOME", (scratch / "data").c_str(), 1);

        names_[Item::LargeFile] = "KorvelProject1.mkv";
        Bench::MakeFileOfSize(PathOf(Item::LargeFile), kGiB);
        names_[Item::EmptyFile] = "KorvelProject2.mkv";
        Bench::MakeFileOfSize(PathOf(Item::EmptyFile), 0);
        names_[Item::FullFolder] = "KorvelProject3";
        Bench::MakeDirectory(PathOf(Item::FullFolder));
        for (int i = 0; i < kFolderFiles; ++i) {
            Bench::MakeFileOfSize(PathOf(Item::FullFolder) + "/frame" + std::to_string(i) + ".png",
                                  4096);
        }
        names_[Item::EmptyFolder] = "KorvelProject4";
        Bench::MakeDirectory(PathOf(Item::EmptyFolder));
    }

    std::string PathOf(Item item) const { return recordings_ + "/" + names_.at(item); }

    bool TrashWithLibrary(Item item) const { return Core::MoveToTrash(PathOf(item)); }
    bool TrashWithAnchor(Item item) const { return anchor_.Trash(PathOf(item), names_.at(item)); }

    // Puts the item back where it was and frees its name in the trash.
    bool RestoreFromLibrary(Item item) const { return Restore(homeTrash_, item); }
    bool RestoreFromAnchor(Item item) const { return Restore(anchor_.Directory(), item); }

    void Flush() const { Bench::FlushFileSystem(recordings_); }

private:
    bool Restore(const std::string& trash, Item item) const {
        const std::string& name = names_.at(item);
        return std::rename((trash + "/files/" + name).c_str(), PathOf(item).c_str()) == 0 &&
               ::unlink((trash + "/info/" + name + ".trashinfo").c_str()) == 0;
    }

    std::string recordings_;
    std::string homeTrash_;
    AnchorTrash anchor_;
    std::map<Item, std::string> names_;
};

// One contender: trashing `item` with the library or with the anchor. The file system is
// flushed before the clock starts, and the item is restored after it stops.
Bench::Contender Trashing(const char* name, const Fixture& fixture, Item item, bool library) {
    return Bench::Contender(
        name,
        [&fixture, item, library] {
            const bool trashed =
                library ? fixture.TrashWithLibrary(item) : fixture.TrashWithAnchor(item);
            if (!trashed) {
                throw std::runtime_error("cannot trash '" + fixture.PathOf(item) + "'");
            }
        },
        [&fixture] { fixture.Flush(); },
        [&fixture, item, library] {
            const bool restored =
                library ? fixture.RestoreFromLibrary(item) : fixture.RestoreFromAnchor(item);
            if (!restored) {
                throw std::runtime_error("cannot restore '" + fixture.PathOf(item) + "'");
            }
        });
}

// The item with the library, the item with the anchor and the empty item of the same kind with
// the library, side by side.
void Register(const char* name, const Fixture& fixture, Item item, Item empty) {
    Bench::RegisterSideBySide(name,
                              {
                                  Trashing(kLibrary, fixture, item, true),
                                  Trashing(kAnchor, fixture, item, false),
                                  Trashing(kEmpty, fixture, empty, true),
                              })
        ->Unit(benchmark::kMillisecond)
        ->Iterations(15)
        ->Repetitions(11)
        ->ReportAggregatesOnly(true);
}

Figure Seconds(const char* benchmark, const char* contender) {
    return Figure::Counter(benchmark, contender, "s");
}

}  // namespace

int main(int argc, char** argv) {
    Bench::Session session(argc, argv, "TrashBench");
    try {
        const Bench::ScratchDirectory scratch("trash");
        const Fixture fixture(scratch);
        // The library's trash must be the one the fixture restores from.
        if (!fixture.TrashWithLibrary(Item::EmptyFile) ||
            !fixture.RestoreFromLibrary(Item::EmptyFile)) {
            throw std::runtime_error("MoveToTrash did not move '" +
                                     fixture.PathOf(Item::EmptyFile) + "' into the home trash");
        }

        Register(kFile, fixture, Item::LargeFile, Item::EmptyFile);
        Register(kFolder, fixture, Item::FullFolder, Item::EmptyFolder);

        const char* anchor = "open(O_EXCL)+write+fsync+rename";
        return session.Run({
            Goal{"MoveToTrash 1 GiB file", Seconds(kFile, kLibrary), anchor,
                 Seconds(kFile, kAnchor), 1.5},
            Goal{"MoveToTrash 1,000-file folder", Seconds(kFolder, kLibrary), anchor,
                 Seconds(kFolder, kAnchor), 1.5},
            Goal{"MoveToTrash 1 GiB file", Seconds(kFile, kLibrary), "MoveToTrash empty file",
                 Seconds(kFile, kEmpty), 1.5},
            Goal{"MoveToTrash 1,000-file folder", Seconds(kFolder, kLibrary),
                 "MoveToTrash empty folder", Seconds(kFolder, kEmpty), 1.5},
        });
    } catch (const std::exception& error) {
        std::cerr << "TrashBench: " << error.what() << '\n';
        return 1;
    }
}
