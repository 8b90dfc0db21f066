// Util::GetPathSize of a project folder against nftw(FTW_PHYS) summing st_size of the regular
// files: the size shown for a folder project must cost no more than the obvious walk.

#include <benchmark/benchmark.h>
#include <ftw.h>
#include <sys/stat.h>

#include <cstdint>
#include <exception>
#include <iostream>
#include <stdexcept>
#include <string>

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

        return session.Run({
            Goal{"GetPathSize 10,000 files in 100 folders",
                 Figure::Counter(kSideBySide, kLibrary, "s"), "nftw(FTW_PHYS)",
                 Figure::Counter(kSideBySide, kAnchor, "s"), 1.10},
        });
    } catch (const std::exception& error) {
        std::cerr << "PathSizeBench: " << error.what() << '\n';
        return 1;
    }
}
