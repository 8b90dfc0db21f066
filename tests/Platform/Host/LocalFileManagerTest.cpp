// LocalFileManager's copy, move and queries on real trees, within one file system and across
// two (a tmpfs mounted for the test).

#include "Platform/Host/LocalFileManager.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <boost/filesystem.hpp>

#include "tests/Support/ScopedTmpfs.h"
#include "tests/Support/TempDir.h"

namespace Vantor::Lumo {
namespace {

namespace fs = boost::filesystem;
using namespace ::testing;
using Testing::Entries;
using Testing::ReadFile;
using Testing::WriteFile;

mode_t ModeOf(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

ino_t InodeOf(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 ? status.st_ino : 0;
}

class LocalFileManagerTest : public Test {
protected:
    // A project folder: nested files, a read-only file, links to a file, a directory and
    // nowhere, all inside `at`.
    static std::string MakeProject(const std::string& at) {
        WriteFile(at + "/screen.mkv", std::string(300000, 'v'));
        WriteFile(at + "/sound/mic.flac", "mic");
        ::chmod((at + "/sound/mic.flac").c_str(), 0440);
        fs::create_symlink("screen.mkv", at + "/latest");
        fs::create_directory_symlink("sound", at + "/audio");
        fs::create_symlink("/nonexistent/lumo", at + "/dangling");
        return at;
    }

    // The copy holds the same tree: content, modes, and links that still say what they said.
    static void ExpectSameProject(const std::string& copy) {
        EXPECT_EQ(ReadFile(copy + "/screen.mkv"), std::string(300000, 'v'));
        EXPECT_EQ(ReadFile(copy + "/sound/mic.flac"), "mic");
        EXPECT_EQ(ModeOf(copy + "/sound/mic.flac"), 0440);
        EXPECT_EQ(fs::read_symlink(copy + "/latest"), "screen.mkv");
        EXPECT_EQ(fs::read_symlink(copy + "/audio"), "sound");
        EXPECT_EQ(fs::read_symlink(copy + "/dangling"), "/nonexistent/lumo");
    }

    std::string At(const std::string& name) const { return root_.Path() + "/" + name; }

    Testing::TempDir root_;
    LocalFileManager files_;
};

TEST_F(LocalFileManagerTest, CopyMakesTheSameTreeAndLeavesTheSource) {
    const auto source = MakeProject(At("project"));
    ASSERT_TRUE(files_.Copy(source, At("copy")));
    ExpectSameProject(At("copy"));
    ExpectSameProject(source);
    ASSERT_TRUE(files_.Copy(source + "/screen.mkv", At("single.mkv")));
    EXPECT_EQ(ReadFile(At("single.mkv")), std::string(300000, 'v'));
}

TEST_F(LocalFileManagerTest, CopyAndMoveNeverReplaceWhatIsThere) {
    const auto source = WriteFile(At("a.mkv"), "a");
    const auto target = WriteFile(At("b.mkv"), "b");
    fs::create_symlink("nowhere", At("link"));
    for (const std::string& to : {target, At("link")}) {
        EXPECT_FALSE(files_.Copy(source, to)) << to;
        EXPECT_FALSE(files_.Move(source, to)) << to;
    }
    EXPECT_EQ(ReadFile(source), "a");
    EXPECT_EQ(ReadFile(target), "b");
    EXPECT_EQ(fs::read_symlink(At("link")), "nowhere");
}

TEST_F(LocalFileManagerTest, ADirectoryIsNotCopiedIntoItself) {
    const auto source = MakeProject(At("project"));
    EXPECT_FALSE(files_.Copy(source, source + "/inside"));
    EXPECT_FALSE(files_.Copy(source, At("project/sound/../inside")));
    EXPECT_THAT(Entries(source), ElementsAre("audio", "dangling", "latest", "screen.mkv", "sound"));
}

// A FIFO has no content to copy: the copy stops there, and what it made is taken back.
TEST_F(LocalFileManagerTest, AFailedCopyLeavesNoPartialCopy) {
    const auto source = MakeProject(At("project"));
    ASSERT_EQ(::mkfifo((source + "/sound/zz-pipe").c_str(), 0600), 0);
    EXPECT_FALSE(files_.Copy(source, At("copy")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(At("copy"))));
    ExpectSameProject(source);
}

TEST_F(LocalFileManagerTest, MoveRenamesWithinOneFileSystem) {
    const auto source = MakeProject(At("project"));
    const ino_t inode = InodeOf(source);
    ASSERT_TRUE(files_.Move(source, At("moved")));
    EXPECT_FALSE(fs::exists(source));
    EXPECT_EQ(InodeOf(At("moved")), inode);  // renamed, not copied
    ExpectSameProject(At("moved"));
}

TEST_F(LocalFileManagerTest, IsFileAndIsDirectoryFollowLinks) {
    WriteFile(At("dir/clip.mkv"), "x");
    fs::create_symlink(At("dir/clip.mkv"), At("to-file"));
    fs::create_directory_symlink(At("dir"), At("to-dir"));
    fs::create_symlink(At("nowhere"), At("dangling"));
    ASSERT_EQ(::mkfifo(At("pipe").c_str(), 0600), 0);
    struct Case {
        std::string path;
        bool file;
        bool directory;
    };
    for (const Case& c : {Case{At("dir/clip.mkv"), true, false}, Case{At("dir"), false, true},
                          Case{At("to-file"), true, false}, Case{At("to-dir"), false, true},
                          Case{At("dangling"), false, false}, Case{At("pipe"), false, false},
                          Case{At("missing"), false, false}, Case{"", false, false}}) {
        EXPECT_EQ(files_.IsFile(c.path), c.file) << c.path;
        EXPECT_EQ(files_.IsDirectory(c.path), c.directory) << c.path;
    }
}

// Across file systems a move is a copy and then a removal of the source.
class LocalFileManagerAcrossTest : public LocalFileManagerTest {
protected:
    void SetUp() override {
        if (!tmpfs_.Mounted()) {
            GTEST_SKIP() << "mounting a tmpfs needs root";
        }
    }

    Testing::ScopedTmpfs tmpfs_{At("mnt")};
};

TEST_F(LocalFileManagerAcrossTest, CopyReachesTheOtherFileSystem) {
    const auto source = MakeProject(At("project"));
    ASSERT_TRUE(files_.Copy(source, At("mnt/copy")));
    ExpectSameProject(At("mnt/copy"));
    ExpectSameProject(source);
}

TEST_F(LocalFileManagerAcrossTest, MoveCopiesThenRemovesTheSource) {
    const auto source = MakeProject(At("project"));
    ASSERT_TRUE(files_.Move(source, At("mnt/moved")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(source)));
    ExpectSameProject(At("mnt/moved"));
    ASSERT_TRUE(files_.Move(WriteFile(At("mnt/clip.mkv"), "back"), At("clip.mkv")));
    EXPECT_EQ(ReadFile(At("clip.mkv")), "back");
    EXPECT_FALSE(fs::exists(At("mnt/clip.mkv")));
}

TEST_F(LocalFileManagerAcrossTest, AFailedMoveKeepsTheSourceAndLeavesNoPartialCopy) {
    const auto source = MakeProject(At("project"));
    ASSERT_EQ(::mkfifo((source + "/sound/zz-pipe").c_str(), 0600), 0);
    EXPECT_FALSE(files_.Move(source, At("mnt/moved")));
    ExpectSameProject(source);
    EXPECT_THAT(Entries(At("mnt")), IsEmpty());
}

}  // namespace
}  // namespace Vantor::Lumo
