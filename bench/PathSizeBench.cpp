// Util::GetPathSize of a project folder against nftw(FTW_PHYS) summing st_size of the regular
// files: the size shown for a folder project must cost no more than the obvious walk. And depth
// must cost nothing: a chain of folders far deeper than a path can be long against as many
// folders side by side.

#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <exception>
#include <iostream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "Platform/Hinge/PathUtils.h"
#include "bench/Support/BenchSession.h"
#include "bench/Support/ScratchDirectory.h"
#include "bench/Support/SideBySide.h"

namespace {

using namespace Vantor;
using Bench::Figure;
using Bench::Goal;

constexpr int kFolders = 100;
constexpr int kFilesPerFolder = 100;
constexpr char kSideBySide[] = "GetPathSize beside nftw";
constexpr char kLibrary[] = "GetPathSize";
constexpr char kAnchor[] = "nftw";

// Files of varied sizes up to 64 KiB, as holes: the walk reads metadata only.
void MakeTree(const std::string& root) {
    for (int folder = 0; folder < kFolders; ++folder) {
        const std::string directory = root + "/take" + std::to_string(folder);
        Bench::MakeDirectory(directory);
        for (int file = 0; file < kFilesPerFolder; ++file) {
            const int number = folder * kFilesPerFolder + file;
            Bench::MakeFileOfSize(directory + "/segment" + std::to_string(file) + ".ts",
                                  (number * 7919LL) % 65536);
        }
    }
}

// Deep against flat: kLevels folders with 200-byte names, each holding a 2-byte file and a
// "leaf" folder with a 1-byte file, nested in one chain or all in one folder.
constexpr int kLevels = 400;
constexpr char kDeepVersusFlat[] = "GetPathSize deep beside flat";
constexpr char kDeep[] = "GetPathSize deep";
constexpr char kFlat[] = "GetPathSize flat";

int OpenDirectoryAt(int parent, const std::string& name) {
    const int fd = ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        throw std::system_error(errno, std::generic_category(), "cannot open folder " + name);
    }
    return fd;
}

void WriteAt(int parent, const char* name, const char* bytes) {
    const int fd = ::openat(parent, name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const auto length = static_cast<ssize_t>(std::char_traits<char>::length(bytes));
    const bool written = fd >= 0 && ::write(fd, bytes, length) == length;
    if (fd >= 0) {
        ::close(fd);
    }
    if (!written) {
        throw std::system_error(errno, std::generic_category(), "cannot write file");
    }
}

// Creates the folder `name` in `parent` with its two files; returns its descriptor.
int MakeLevel(int parent, const std::string& name) {
    ::mkdirat(parent, name.c_str(), 0700);
    const int fd = OpenDirectoryAt(parent, name);
    ::mkdirat(fd, "leaf", 0700);
    WriteAt(fd, "f", "ab");
    WriteAt(fd, "leaf/f", "c");
    return fd;
}

void MakeDeepAndFlat(const std::string& deep, const std::string& flat) {
    Bench::MakeDirectory(deep);
    Bench::MakeDirectory(flat);
    int chain = ::open(deep.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int side = ::open(flat.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int level = 0; level < kLevels; ++level) {
        const int next = MakeLevel(chain, std::string(200, 'd'));
        ::close(chain);
        chain = next;
        ::close(MakeLevel(side, std::to_string(level) + std::string(200 - 4, 'd')));
    }
    ::close(chain);
    ::close(side);
}

// Removes `name` in `parent` and all below it through descriptors, since the deep chain is too
// long a path for a removal by path.
void RemoveAt(int parent, const std::string& name) {
    const int fd = ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        ::unlinkat(parent, name.c_str(), 0);
        return;
    }
    std::vector<std::string> entries;
    if (DIR* dir = ::fdopendir(::dup(fd))) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string entryName = entry->d_name;
            if (entryName != "." && entryName != "..") {
                entries.push_back(entryName);
            }
        }
        ::closedir(dir);
    }
    for (const std::string& entry : entries) {
        RemoveAt(fd, entry);
    }
    ::close(fd);
    ::unlinkat(parent, name.c_str(), AT_REMOVEDIR);
}

// Removes the deep chain before the scratch directory tries to.
class DeepTreeRemover {
public:
    explicit DeepTreeRemover(std::string path) : path_(std::move(path)) {}
    ~DeepTreeRemover() { RemoveAt(AT_FDCWD, path_); }
    DeepTreeRemover(const DeepTreeRemover&) = delete;
    DeepTreeRemover& operator=(const DeepTreeRemover&) = delete;

private:
    std::string path_;
};

std::int64_t nftwTotal = 0;

int AddRegularFile(const char*, const struct stat* status, int type, FTW*) {
    if (type == FTW_F && S_ISREG(status->st_mode)) {
        nftwTotal += status->st_size;
    }
    return 0;
}

std::int64_t WalkWithNftw(const std::string& root) {
    nftwTotal = 0;
    if (::nftw(root.c_str(), AddRegularFile, 64, FTW_PHYS) != 0) {
        return -1;
    }
    return nftwTotal;
}

}  // namespace

int main(int argc, char** argv) {
    Bench::Session session(argc, argv, "PathSizeBench");
    try {
        const Bench::ScratchDirectory scratch("size");
        const std::string root = scratch / "project";
        std::cout << "creating " << kFolders * kFilesPerFolder << " files in " << kFolders
                  << " folders under " << scratch.Path() << " ..." << std::endl;
        MakeTree(root);
        const std::string deep = scratch / "deep", flat = scratch / "flat";
        const DeepTreeRemover removeDeep(deep);
        MakeDeepAndFlat(deep, flat);
        for (const std::string& tree : {deep, flat}) {
            if (Util::GetPathSize(tree) != 3 * kLevels) {
                throw std::runtime_error("GetPathSize gave " +
                                         std::to_string(Util::GetPathSize(tree)) + " bytes for " +
                                         tree + ", not " + std::to_string(3 * kLevels));
            }
        }
        const std::int64_t expected = WalkWithNftw(root);
        const std::int64_t measured = Util::GetPathSize(root);
        if (expected <= 0 || measured != expected) {
            throw std::runtime_error("GetPathSize gave " + std::to_string(measured) +
                                     " bytes, nftw " + std::to_string(expected));
        }

        Bench::RegisterSideBySide(
            kSideBySide,
            {
                {kLibrary, [root] { benchmark::DoNotOptimize(Util::GetPathSize(root)); }},
                {kAnchor, [root] { benchmark::DoNotOptimize(WalkWithNftw(root)); }},
            })
            ->Unit(benchmark::kMillisecond)
            ->MinTime(0.2)
            ->Repetitions(11)
            ->ReportAggregatesOnly(true);

        Bench::RegisterSideBySide(
            kDeepVersusFlat,
            {
                {kDeep, [deep] { benchmark::DoNotOptimize(Util::GetPathSize(deep)); }},
                {kFlat, [flat] { benchmark::DoNotOptimize(Util::GetPathSize(flat)); }},
            })
            ->Unit(benchmark::kMillisecond)
            ->MinTime(0.2)
            ->Repetitions(11)
            ->ReportAggregatesOnly(true);

        return session.Run({
            Goal{"GetPathSize 10,000 files in 100 folders",
                 Figure::Counter(kSideBySide, kLibrary, "s"), "nftw(FTW_PHYS)",
                 Figure::Counter(kSideBySide, kAnchor, "s"), 1.10},
            Goal{"GetPathSize 400 nested folders with 200-byte names",
                 Figure::Counter(kDeepVersusFlat, kDeep, "s"), "400 such folders side by side",
                 Figure::Counter(kDeepVersusFlat, kFlat, "s"), 1.25},
        });
    } catch (const std::exception& error) {
        std::cerr << "PathSizeBench: " << error.what() << '\n';
        return 1;
    }
}
