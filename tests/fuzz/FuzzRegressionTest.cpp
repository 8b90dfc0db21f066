// Replays every fuzz input kept in the repository, the seed corpora and the past findings,
// through the same checks the fuzz targets make, so the plain test run keeps them all.

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>
#include <boost/filesystem.hpp>

#include "fuzz/ContainerOpenCheck.h"
#include "fuzz/StreamDocumentCheck.h"
#include "tests/Support/TempDir.h"

namespace {

namespace fs = boost::filesystem;

const fs::path kFuzzFolder = fs::path(__FILE__).parent_path().parent_path().parent_path() / "fuzz";

// fuzz/corpus/<target>/* and fuzz/regressions/<target>/*, found from this file's place.
std::vector<fs::path> KeptInputs(const std::string& target) {
    std::vector<fs::path> inputs;
    for (const char* kind : {"corpus", "regressions"}) {
        const fs::path folder = kFuzzFolder / kind / target;
        if (!fs::is_directory(folder)) {
            continue;  // no findings yet
        }
        for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
            if (fs::is_regular_file(entry.status())) {
                inputs.push_back(entry.path());
            }
        }
    }
    std::sort(inputs.begin(), inputs.end());
    return inputs;
}

TEST(FuzzRegressionTest, EveryKeptStreamDocumentReadsSafelyAndRoundTrips) {
    const std::vector<fs::path> inputs = KeptInputs("stream_document");
    ASSERT_FALSE(inputs.empty()) << "the seed corpus is missing";
    for (const fs::path& input : inputs) {
        const std::string text = Vantor::Testing::ReadFile(input.string());
        EXPECT_EQ(Vantor::Fuzzing::CheckStreamDocument(text), "") << input;
    }
}

TEST(FuzzRegressionTest, EveryKeptContainerOpensOrFailsCleanly) {
    const std::vector<fs::path> inputs = KeptInputs("container_open");
    ASSERT_FALSE(inputs.empty()) << "the seed corpus is missing";
    const Vantor::Testing::TempDir directory;
    for (const fs::path& input : inputs) {
        const std::string bytes = Vantor::Testing::ReadFile(input.string());
        EXPECT_EQ(Vantor::Fuzzing::CheckContainerOpen(bytes, directory / "input.mkv"), "") << input;
    }
}

std::int64_t ResidentBytes() {
    std::int64_t pages = 0;
    std::int64_t resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return resident * ::sysconf(_SC_PAGESIZE);
}

// The fuzz target loads every input on a fresh worker thread, and a defective document makes the
// loader raise exceptions that carry a call stack. The symbol tables behind the call stack were
// once read per thread and never freed: over 20 MiB a thread, until the run ran out of memory.
TEST(FuzzRegressionTest, LoadsOnFreshThreadsDoNotPileUpMemory) {
    const std::string bytes = Vantor::Testing::ReadFile(
        (kFuzzFolder / "regressions/container_open/document_label_in_capitals.mkv").string());
    const Vantor::Testing::TempDir directory;
    ASSERT_EQ(Vantor::Fuzzing::CheckContainerOpen(bytes, directory / "input.mkv"), "");
    const std::int64_t before = ResidentBytes();
    for (int thread = 0; thread < 8; ++thread) {
        ASSERT_EQ(Vantor::Fuzzing::CheckContainerOpen(bytes, directory / "input.mkv"), "");
    }
    EXPECT_LT(ResidentBytes() - before, 32 << 20);
}

}  // namespace
