// GenerateProjectPath in a crowded recordings folder against a bare opendir/readdir loop over the
// same folder: finding the next free index may cost at most a few listings.
//
// 100,000 entries, 10% of them KorvelProject<N>.mkv. The other 90% are what piles up beside
// recordings, in equal thirds: screen recordings named by date and time ("Screen Recording
// 2024-03-05 at 14.22.31.mov"), camera pictures ("IMG_20417.JPG") and exports of projects
// ("KorvelProject812 export.mp4", which share the stem and so get furthest into the pattern).
// Every one of them has a digit, so none is skipped before the regular expression runs: the worst
// case. A second folder replaces the 90% by names without digits ("Meeting notes Alice.txt").

#include <benchmark/benchmark.h>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <exception>
#include <iostream>
#include <stdexcept>
#include <string>
#include <system_error>

#include "Lib/Project/ProjectNaming.h"
#include "bench/Support/BenchSession.h"
#include "bench/Support/ScratchDirectory.h"
#include "bench/Support/SideBySide.h"

namespace {

using namespace Vantor;
using Bench::Figure;
using Bench::Goal;

constexpr int kEntries = 100000;
constexpr int kProjects = kEntries / 10;
constexpr char kWorstCase[] = "GenerateProjectPath beside readdir, digits";
constexpr char kCommonCase[] = "GenerateProjectPath beside readdir, words";
constexpr char kLibrary[] = "GenerateProjectPath";
constexpr char kAnchor[] = "readdir";

// An empty regular file in one system call.
void Touch(const std::string& path) {
    if (::mknod(path.c_str(), S_IFREG | 0644, 0) != 0) {
        throw std::system_error(errno, std::generic_category(), "cannot create '" + path + "'");
    }
}

std::string NameWithDigits(int number) {
    char name[64];
    switch (number % 3) {
        case 0:  // a distinct date and time for every number below 12 * 28 * 24 * 60
            std::snprintf(name, sizeof name,
                          "Screen Recording 2024-%02d-%02d at %02d.%02d.%02d.mov", 1 + number % 12,
                          1 + number / 12 % 28, number / 336 % 24, number / 8064 % 60, number % 60);
            break;
        case 1:
            std::snprintf(name, sizeof name, "IMG_%05d.JPG", number);
            break;
        default:
            std::snprintf(name, sizeof name, "KorvelProject%d export.mp4", number);
            break;
    }
    return name;
}

std::string NameWithoutDigits(int number) {
    static const char* const kWhat[] = {"Meeting notes", "Slides", "Draft", "Voice memo",
                                        "Cover art"};
    static const char* const kWho[] = {"Alice", "Bob", "Carol", "Dave", "Erin", "Frank"};
    static const char* const kExtension[] = {".txt", ".pdf", ".png", ".docx"};
    // Distinct names from the number's letters, so that no digit appears.
    std::string tag;
    for (int rest = number; rest > 0; rest /= 26) {
        tag += static_cast<char>('a' + rest % 26);
    }
    return std::string(kWhat[number % 5]) + " " + kWho[number / 5 % 6] + " " + tag +
           kExtension[number / 30 % 4];
}

void Fill(const std::string& directory, std::string (*otherName)(int)) {
    Bench::MakeDirectory(directory);
    for (int i = 1; i <= kProjects; ++i) {
        Touch(directory + "/KorvelProject" + std::to_string(i) + ".mkv");
    }
    for (int i = 1; i <= kEntries - kProjects; ++i) {
        Touch(directory + "/" + otherName(i));
    }
}

void CheckNextIndex(const std::string& directory) {
    const std::string expected =
        directory + "/KorvelProject" + std::to_string(kProjects + 1) + ".mkv";
    const std::string generated = Lumo::GenerateProjectPath(directory).utf8string();
    if (generated != expected) {
        throw std::runtime_error("GenerateProjectPath gave '" + generated + "', expected '" +
                                 expected + "'");
    }
}

void ListDirectory(const std::string& directory) {
    DIR* dir = ::opendir(directory.c_str());
    if (dir == nullptr) {
        throw std::system_error(errno, std::generic_category(), "cannot list '" + directory + "'");
    }
    std::size_t entries = 0;
    while (const dirent* entry = ::readdir(dir)) {
        entries += entry->d_name[0] != '.';
    }
    ::closedir(dir);
    benchmark::DoNotOptimize(entries);
}

void Register(const char* name, const std::string& directory) {
    Bench::RegisterSideBySide(
        name,
        {
            {kLibrary,
             [directory] { benchmark::DoNotOptimize(Lumo::GenerateProjectPath(directory)); }},
            {kAnchor, [directory] { ListDirectory(directory); }},
        })
        ->Unit(benchmark::kMillisecond)
        ->MinTime(0.3)
        ->Repetitions(7)
        ->ReportAggregatesOnly(true);
}

Figure Seconds(const char* benchmark, const char* contender) {
    return Figure::Counter(benchmark, contender, "s");
}

}  // namespace

int main(int argc, char** argv) {
    Bench::Session session(argc, argv, "ProjectPathBench");
    try {
        const Bench::ScratchDirectory scratch("naming");
        const std::string digits = scratch / "digits";
        const std::string words = scratch / "words";
        std::cout << "creating two folders of " << kEntries << " entries under " << scratch.Path()
                  << " ..." << std::endl;
        Fill(digits, NameWithDigits);
        Fill(words, NameWithoutDigits);
        CheckNextIndex(digits);
        CheckNextIndex(words);

        Register(kWorstCase, digits);
        Register(kCommonCase, words);

        return session.Run({
            Goal{"GenerateProjectPath 100k entries, all with digits", Seconds(kWorstCase, kLibrary),
                 "readdir", Seconds(kWorstCase, kAnchor), 3.0},
            Goal{"GenerateProjectPath 100k entries, 90% without digits",
                 Seconds(kCommonCase, kLibrary), "readdir", Seconds(kCommonCase, kAnchor), 3.0},
        });
    } catch (const std::exception& error) {
        std::cerr << "ProjectPathBench: " << error.what() << '\n';
        return 1;
    }
}
