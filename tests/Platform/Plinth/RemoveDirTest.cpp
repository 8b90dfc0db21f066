#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <boost/filesystem.hpp>

#include "Platform/Plinth/FileSystem.h"
#include "tests/Support/LogCapture.h"
#include "tests/Support/TempDir.h"

namespace Vantor::Core {
namespace {

namespace fs = boost::filesystem;
using ::testing::IsEmpty;
using Testing::LogCapture;
using Testing::ReadFile;
using Testing::TempDir;
using Testing::WriteFile;

class RemoveDirTest : public ::testing::Test {
protected:
    std::string At(const std::string& name) const { return root_.Path() + "/" + name; }

    std::string MakeFile(const std::string& name, const std::string& content) const {
        fs::create_directories(fs::path(At(name)).parent_path());
        WriteFile(At(name), content);
        return At(name);
    }

    TempDir root_;
};

TEST_F(RemoveDirTest, RemovesTheWholeTreeQuietly) {
    MakeFile("project/screen.mkv", "screen");
    MakeFile("project/a/b/c/mic.mkv", "mic");
    fs::create_directories(At("project/empty"));
    LogCapture log;

    EXPECT_TRUE(RemoveDir(At("project")));

    EXPECT_FALSE(fs::exists(At("project")));
    EXPECT_THAT(log.Lines(), IsEmpty());
}

TEST_F(RemoveDirTest, LinksInsideTheTreeAreRemovedNotFollowed) {
    const auto keptFile = MakeFile("kept/file.mkv", "kept");
    MakeFile("kept/inner/deep.mkv", "deep");
    MakeFile("project/screen.mkv", "screen");
    fs::create_directory_symlink(At("kept"), At("project/to-dir"));
    fs::create_symlink(keptFile, At("project/to-file"));
    fs::create_symlink(At("nowhere"), At("project/dangling"));

    EXPECT_TRUE(RemoveDir(At("project")));

    EXPECT_FALSE(fs::exists(fs::symlink_status(At("project"))));
    EXPECT_EQ(ReadFile(keptFile), "kept");
    EXPECT_EQ(ReadFile(At("kept/inner/deep.mkv")), "deep");
}

TEST_F(RemoveDirTest, LinkAtThePathIsRemovedAloneEvenWithATrailingSlash) {
    MakeFile("kept/file.mkv", "kept");
    fs::create_directory_symlink(At("kept"), At("link"));
    fs::create_directory_symlink(At("kept"), At("slashed"));

    EXPECT_TRUE(RemoveDir(At("link")));
    EXPECT_TRUE(RemoveDir(At("slashed") + "/"));

    EXPECT_FALSE(fs::exists(fs::symlink_status(At("link"))));
    EXPECT_FALSE(fs::exists(fs::symlink_status(At("slashed"))));
    EXPECT_EQ(ReadFile(At("kept/file.mkv")), "kept");
}

TEST_F(RemoveDirTest, PlainFileIsRemoved) {
    EXPECT_TRUE(RemoveDir(MakeFile("clip.mkv", "x")));
    EXPECT_FALSE(fs::exists(At("clip.mkv")));
}

TEST_F(RemoveDirTest, NothingThereOrNoNameIsFalse) {
    MakeFile("project/screen.mkv", "screen");

    EXPECT_FALSE(RemoveDir(At("missing")));
    EXPECT_FALSE(RemoveDir(At("missing/deeper")));
    EXPECT_FALSE(RemoveDir(""));
    EXPECT_FALSE(RemoveDir(At("project/.")));
    EXPECT_FALSE(RemoveDir(At("project/a/..")));
    EXPECT_EQ(ReadFile(At("project/screen.mkv")), "screen");
}

}  // namespace
}  // namespace Vantor::Core
