#include "Platform/Host/LocalFileManager.h"

#include <sys/stat.h>

#include <string>

#include <gmock/gmock.h>
#include <boost/filesystem.hpp>

#include "tests/Support/LogCapture.h"
#include "tests/Support/TempDir.h"

namespace Vantor::Lumo {
namespace {

namespace fs = boost::filesystem;
using Testing::ReadFile;
using Testing::TempDir;
using Testing::WriteFile;

class LocalFileManagerTest : public testing::Test {
protected:
    std::string At(const std::string& relative) const { return temp_.Path() + "/" + relative; }

    // screen.mkv, "Запись 1/mic.wav" and a link to a file outside the tree.
    void MakeProject(const std::string& relative) {
        fs::create_directories(At(relative + "/Запись 1"));
        WriteFile(At(relative + "/screen.mkv"), "video");
        WriteFile(At(relative + "/Запись 1/mic.wav"), "audio");
        WriteFile(At("outside"), "keep me");
        fs::create_symlink(At("outside"), At(relative + "/link"));
    }

    TempDir temp_;
    LocalFileManager files_;
};

TEST_F(LocalFileManagerTest, QueriesTellWhatIsAtThePath) {
    WriteFile(At("file"), "x");
    fs::create_directory(At("dir"));
    fs::create_symlink(At("nowhere"), At("dangling"));

    EXPECT_TRUE(files_.Exists(At("file")));
    EXPECT_TRUE(files_.Exists(At("dangling")));
    EXPECT_FALSE(files_.Exists(At("missing")));
    EXPECT_TRUE(files_.IsFile(At("file")));
    EXPECT_FALSE(files_.IsFile(At("dir")));
    EXPECT_TRUE(files_.IsDirectory(At("dir")));
    EXPECT_FALSE(files_.IsDirectory(At("file")));
}

TEST_F(LocalFileManagerTest, CreateDirectoryMakesParentsAndAcceptsAnExistingOne) {
    Testing::LogCapture capture;
    EXPECT_TRUE(files_.CreateDirectory(At("a/b/c d")));
    EXPECT_TRUE(fs::is_directory(At("a/b/c d")));
    EXPECT_TRUE(files_.CreateDirectory(At("a/b/c d")));
    EXPECT_THAT(capture.Lines(), testing::IsEmpty());

    WriteFile(At("file"), "x");
    EXPECT_FALSE(files_.CreateDirectory(At("file/sub")));
    EXPECT_FALSE(files_.CreateDirectory(ioPath()));
}

TEST_F(LocalFileManagerTest, CopyDuplicatesATreeWithLinksAsLinks) {
    MakeProject("project");
    ::chmod(At("project/Запись 1").c_str(), 0555);

    ASSERT_TRUE(files_.Copy(At("project"), At("copy")));
    EXPECT_EQ(ReadFile(At("copy/screen.mkv")), "video");
    EXPECT_EQ(ReadFile(At("copy/Запись 1/mic.wav")), "audio");
    EXPECT_EQ(fs::read_symlink(At("copy/link")).string(), At("outside"));
    EXPECT_EQ(fs::status(At("copy/Запись 1")).permissions(), fs::perms(0555));
}

TEST_F(LocalFileManagerTest, CopyNeverOverwritesNorRecursesIntoItself) {
    WriteFile(At("from"), "new");
    WriteFile(At("to"), "old");
    EXPECT_FALSE(files_.Copy(At("from"), At("to")));
    EXPECT_EQ(ReadFile(At("to")), "old");

    MakeProject("project");
    EXPECT_FALSE(files_.Copy(At("project"), At("project/inner")));
    EXPECT_FALSE(fs::exists(At("project/inner")));
    EXPECT_FALSE(files_.Copy(At("missing"), At("target")));
    EXPECT_FALSE(fs::exists(At("target")));
}

TEST_F(LocalFileManagerTest, FailedCopyLeavesNoPartialTarget) {
    MakeProject("project");
    ASSERT_EQ(::mkfifo(At("project/zz-pipe").c_str(), 0600), 0);
    EXPECT_FALSE(files_.Copy(At("project"), At("copy")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(At("copy"))));
    EXPECT_TRUE(fs::exists(At("project/screen.mkv")));
}

TEST_F(LocalFileManagerTest, MoveRenamesButNeverReplaces) {
    WriteFile(At("a"), "a");
    WriteFile(At("b"), "b");
    EXPECT_FALSE(files_.Move(At("a"), At("b")));
    EXPECT_EQ(ReadFile(At("b")), "b");
    EXPECT_TRUE(files_.Move(At("a"), At("c")));
    EXPECT_FALSE(fs::exists(At("a")));
    EXPECT_EQ(ReadFile(At("c")), "a");
    EXPECT_FALSE(files_.Move(At("missing"), At("d")));
}

TEST_F(LocalFileManagerTest, MoveToAnotherDeviceCopiesThenRemoves) {
    const std::string other = "/dev/shm";
    struct stat here {
    }, there{};
    if (::stat(other.c_str(), &there) != 0 || ::stat(temp_.Path().c_str(), &here) != 0 ||
        here.st_dev == there.st_dev) {
        GTEST_SKIP() << "no second file system at " << other;
    }
    MakeProject("project");
    const std::string target = other + "/lumo-move-" + fs::unique_path().string();
    ASSERT_TRUE(files_.Move(At("project"), target));
    EXPECT_FALSE(fs::exists(At("project")));
    EXPECT_EQ(ReadFile(target + "/Запись 1/mic.wav"), "audio");
    fs::remove_all(target);
}

TEST_F(LocalFileManagerTest, RemoveDeletesTreesButNotWhatLinksPointTo) {
    MakeProject("project");
    fs::create_directory_symlink(At("project"), At("dir-link"));

    EXPECT_TRUE(files_.Remove(At("dir-link")));
    EXPECT_TRUE(fs::is_directory(At("project")));
    EXPECT_TRUE(files_.Remove(At("project")));
    EXPECT_FALSE(fs::exists(At("project")));
    EXPECT_EQ(ReadFile(At("outside")), "keep me");
    EXPECT_TRUE(files_.Remove(At("outside")));
    EXPECT_FALSE(files_.Remove(At("outside")));
}

TEST_F(LocalFileManagerTest, MoveToTrashUsesTheHomeTrash) {
    Testing::ScopedEnv dataHome("XDG_DATA_HOME", At("data"));
    WriteFile(At("KorvelProject1.mkv"), "video");
    EXPECT_TRUE(files_.MoveToTrash(At("KorvelProject1.mkv")));
    EXPECT_FALSE(fs::exists(At("KorvelProject1.mkv")));
    EXPECT_EQ(ReadFile(At("data/Trash/files/KorvelProject1.mkv")), "video");
}

}  // namespace
}  // namespace Vantor::Lumo
