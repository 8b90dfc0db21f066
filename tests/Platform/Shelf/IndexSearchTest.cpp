#include "Platform/Shelf/IndexSearch.h"

#include <sys/stat.h>
#include <unistd.h>

#include <initializer_list>
#include <regex>
#include <string>

#include <gmock/gmock.h>
#include <boost/filesystem.hpp>

#include "tests/Support/TempDir.h"

namespace Vantor::Lumo {
namespace {

namespace fs = boost::filesystem;
using Testing::TempDir;

const std::regex kContainerPattern(R"(KorvelProject(\d+)\.mkv)", std::regex_constants::icase);

class IndexSearchTest : public testing::Test {
protected:
    std::string NextIn(std::initializer_list<const char*> names,
                       const std::regex& pattern = kContainerPattern) {
        for (const char* name : names) {
            Testing::WriteFile(temp_.Path() + "/" + name, "");
        }
        return GetNextAvaliableIndex(ioPath(temp_.Path()), pattern);
    }

    TempDir temp_;
};

TEST_F(IndexSearchTest, MissingDirectoryOrNoMatchingEntryGivesOne) {
    EXPECT_EQ(GetNextAvaliableIndex(temp_ / "missing", kContainerPattern), "1");
    EXPECT_EQ(NextIn({"notes.txt", "clip_42.mp4", "KorvelProject.mkv"}), "1");
}

TEST_F(IndexSearchTest, OneMoreThanTheLargestIndexFoundAnywhereInANameIgnoringCase) {
    EXPECT_EQ(NextIn({"KorvelProject3.mkv", "KORVELPROJECT7.MKV", "korvelproject5.Mkv"}), "8");
    EXPECT_EQ(NextIn({"old KorvelProject41.mkv.bak"}), "42");
}

TEST_F(IndexSearchTest, IndexBeyondAnyIntegerIsIncrementedAsText) {
    EXPECT_EQ(NextIn({"KorvelProject99999999999999999999999.mkv", "KorvelProject123.mkv"}),
              "100000000000000000000000");
}

TEST_F(IndexSearchTest, LeadingZerosDoNotMakeAnIndexLarger) {
    EXPECT_EQ(NextIn({"KorvelProject0000009.mkv", "KorvelProject10.mkv"}), "11");
}

TEST_F(IndexSearchTest, OnlyZeroInUseGivesOne) {
    EXPECT_EQ(NextIn({"KorvelProject000.mkv"}), "1");
}

TEST_F(IndexSearchTest, GroupThatIsNotAllDigitsIsIgnored) {
    const std::regex wide(R"(KorvelProject(\w+)\.mkv)");
    EXPECT_EQ(NextIn({"KorvelProject99x.mkv", "KorvelProject4.mkv", "KorvelProject_.mkv"}, wide),
              "5");
}

TEST_F(IndexSearchTest, DirectoriesCarryIndicesToo) {
    fs::create_directory(temp_.Path() + "/KorvelProject12");
    EXPECT_EQ(NextIn({"KorvelProject3"}, std::regex(R"(KorvelProject(\d+))")), "13");
}

TEST_F(IndexSearchTest, RegularFileThrowsFilesystemError) {
    Testing::WriteFile(temp_.Path() + "/file", "");
    try {
        GetNextAvaliableIndex(temp_ / "file", kContainerPattern);
        FAIL() << "expected filesystem_error";
    } catch (const fs::filesystem_error& error) {
        EXPECT_EQ(error.code(), boost::system::errc::not_a_directory);
        EXPECT_EQ(error.path1().string(), temp_.Path() + "/file");
    }
}

TEST_F(IndexSearchTest, UnreadableDirectoryThrowsFilesystemError) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "permission bits do not stop root";
    }
    ::chmod(temp_.Path().c_str(), 0);
    EXPECT_THROW(GetNextAvaliableIndex(ioPath(temp_.Path()), kContainerPattern),
                 fs::filesystem_error);
    ::chmod(temp_.Path().c_str(), 0700);
}

}  // namespace
}  // namespace Vantor::Lumo
