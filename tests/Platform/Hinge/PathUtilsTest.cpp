#include "Platform/Hinge/PathUtils.h"

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include <gmock/gmock.h>
#include <boost/filesystem.hpp>

#include "tests/Support/LogCapture.h"
#include "tests/Support/TempDir.h"

namespace Vantor::Util {
namespace {

namespace fs = boost::filesystem;
using Testing::LogCapture;
using Testing::TempDir;
using Testing::WriteFile;

class GetPathSizeTest : public testing::Test {
protected:
    std::string Make(const std::string& relative, std::size_t bytes) {
        const std::string path = temp_.Path() + "/" + relative;
        fs::create_directories(fs::path(path).parent_path());
        WriteFile(path, std::string(bytes, 'x'));
        return path;
    }

    TempDir temp_;
};

TEST_F(GetPathSizeTest, AbsentOrEmptyPathIsZero) {
    EXPECT_EQ(GetPathSize(temp_ / "missing"), 0);
    EXPECT_EQ(GetPathSize(ioPath()), 0);
}

TEST_F(GetPathSizeTest, FileIsItsOwnSize) {
    EXPECT_EQ(GetPathSize(ioPath(Make("one.mkv", 1234))), 1234);
}

TEST_F(GetPathSizeTest, TreeSumsRegularFilesAndNeverFollowsLinks) {
    Make("project/screen.mkv", 1000);
    Make("project/mic .wav", 200);
    Make("project/Запись 1/日本語.mkv", 30);
    Make("project/a/b/c/deep", 4);
    const std::string outside = Make("outside/big", 100000);
    fs::create_symlink(outside, temp_.Path() + "/project/link-to-file");
    fs::create_directory_symlink(temp_.Path() + "/outside", temp_.Path() + "/project/link-to-dir");
    fs::create_symlink(temp_.Path() + "/nowhere", temp_.Path() + "/project/dangling");

    LogCapture capture;
    EXPECT_EQ(GetPathSize(temp_ / "project"), 1234);
    EXPECT_EQ(GetPathSize(temp_ / "project/link-to-dir"), 0);
    EXPECT_THAT(capture.Lines(), testing::IsEmpty());
}

TEST_F(GetPathSizeTest, TreeDeeperThanTheHeldDirectoriesIsCountedWhole) {
    std::string relative = "deep";
    for (int level = 0; level < 70; ++level) {
        relative += "/d";
        Make(relative + "/f", 1);
    }
    EXPECT_EQ(GetPathSize(temp_ / "deep"), 70);
}

TEST_F(GetPathSizeTest, UnreadableDirectoryIsSkipped) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "permission bits do not stop root";
    }
    Make("project/visible", 10);
    Make("project/locked/hidden", 99);
    ::chmod((temp_.Path() + "/project/locked").c_str(), 0);
    EXPECT_EQ(GetPathSize(temp_ / "project"), 10);
}

TEST(CanCreateFileInTest, WritableDirectoryIsTrueAndKeepsNoProbe) {
    TempDir temp;
    const std::string directory = temp.Path() + "/Aufnahmen été";
    fs::create_directory(directory);
    LogCapture capture;
    EXPECT_TRUE(CanCreateFileIn(QString::fromUtf8(directory.c_str())));
    EXPECT_TRUE(fs::is_empty(directory));
    EXPECT_THAT(capture.Lines(), testing::IsEmpty());
}

TEST(CanCreateFileInTest, MissingDirectoryOrFileIsFalse) {
    TempDir temp;
    WriteFile(temp.Path() + "/file", "x");
    EXPECT_FALSE(CanCreateFileIn(QString::fromUtf8((temp.Path() + "/missing").c_str())));
    EXPECT_FALSE(CanCreateFileIn(QString::fromUtf8((temp.Path() + "/file").c_str())));
    EXPECT_FALSE(CanCreateFileIn(QString()));
}

TEST(CanCreateFileInTest, ReadOnlyDirectoryIsFalse) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "permission bits do not stop root";
    }
    TempDir temp;
    ::chmod(temp.Path().c_str(), 0555);
    EXPECT_FALSE(CanCreateFileIn(QString::fromUtf8(temp.Path().c_str())));
    ::chmod(temp.Path().c_str(), 0755);
}

}  // namespace
}  // namespace Vantor::Util
