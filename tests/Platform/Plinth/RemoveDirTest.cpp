// RemoveDir on real trees: links, depth beyond PATH_MAX, a tree removed twice at once.

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

#include <gmock/gmock.h>
#include <boost/filesystem.hpp>

#include "Platform/Plinth/FileSystem.h"
#include "tests/Support/LogCapture.h"
#include "tests/Support/TempDir.h"

namespace Vantor::Core {
namespace {

namespace fs = boost::filesystem;
using namespace ::testing;
using Testing::Entries;
using Testing::ReadFile;
using Testing::WriteFile;

class RemoveDirTest : public Test {
protected:
    std::string At(const std::string& name) const { return root_.Path() + "/" + name; }

    Testing::TempDir root_;
};

TEST_F(RemoveDirTest, RemovesTheTreeButNeverWhatItsLinksPointTo) {
    const auto kept = WriteFile(At("kept/inner/deep.mkv"), "deep");
    WriteFile(At("project/a/b/c/mic.mkv"), "mic");
    fs::create_directory_symlink(At("kept"), At("project/to-dir"));
    fs::create_symlink(kept, At("project/to-file"));
    fs::create_symlink(At("nowhere"), At("project/dangling"));
    fs::create_directory_symlink(At("kept"), At("link"));
    Testing::LogCapture log;

    EXPECT_TRUE(RemoveDir(At("project")));
    EXPECT_TRUE(RemoveDir(At("link") + "/"));  // the link alone, even with a trailing slash
    EXPECT_TRUE(RemoveDir(WriteFile(At("clip.mkv"), "x")));
    EXPECT_THAT(Entries(root_.Path()), ElementsAre("kept"));
    EXPECT_EQ(ReadFile(kept), "deep");
    EXPECT_THAT(log.Lines(), IsEmpty());
}

TEST_F(RemoveDirTest, RefusesDotDotDotAndAnswersFalseWhereNothingIs) {
    const auto kept = WriteFile(At("kept/inner/deep.mkv"), "deep");
    for (const std::string& path :
         {At("missing"), std::string(), At("kept/."), At("kept/inner/.."), At("missing/child")}) {
        EXPECT_FALSE(RemoveDir(path)) << path;
    }
    EXPECT_EQ(ReadFile(kept), "deep");
}

// Every directory is named with 200 characters, so the deepest files lie far beyond PATH_MAX:
// only a walk that never resolves a whole path reaches them.
TEST_F(RemoveDirTest, RemovesATreeDeeperThanPathMax) {
    const std::string name(200, 'd');
    constexpr int kLevels = 40;
    static_assert(kLevels * 201 > PATH_MAX);
    int fd = ::open(root_.Path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    int files = 0;
    for (int level = 0; level < kLevels; ++level) {
        ASSERT_EQ(::mkdirat(fd, name.c_str(), 0700), 0);
        const int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = next;
        ASSERT_GE(fd, 0);
        for (int i = 0; i < (level == kLevels - 1 ? 23 : 2); ++i, ++files) {
            const int file = ::openat(fd, ("f" + std::to_string(i)).c_str(),
                                      O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            ASSERT_GE(file, 0);
            ::close(file);
        }
    }
    ::close(fd);
    ASSERT_EQ(files, 101);

    const bool removed = RemoveDir(At(name));
    const auto left = Entries(root_.Path());
    if (!left.empty()) {
        // TempDir's own cleanup resolves whole paths too.
        ASSERT_EQ(std::system(("rm -rf '" + At(name) + "'").c_str()), 0);
    }
    EXPECT_TRUE(removed);
    EXPECT_THAT(left, IsEmpty());
}

// Another process empties the same tree meanwhile: RemoveDir finds entries gone that it just
// listed, and must still report the tree gone.
TEST_F(RemoveDirTest, ATreeEmptiedByAnotherAtTheSameTimeIsGone) {
    const std::string tree = At("tree");
    for (int round = 0; round < 20; ++round) {
        for (int d = 0; d < 20; ++d) {
            for (int f = 0; f < 10; ++f) {
                WriteFile(tree + "/" + std::to_string(d) + "/sub/" + std::to_string(f), "x");
            }
        }
        std::thread other([&] {
            for (int d = 19; d >= 0; --d) {
                boost::system::error_code ignored;
                fs::remove_all(tree + "/" + std::to_string(d), ignored);
            }
        });
        const bool removed = RemoveDir(tree);
        other.join();
        ASSERT_FALSE(fs::exists(tree)) << "round " << round;
        ASSERT_TRUE(removed) << "round " << round;
    }
}

}  // namespace
}  // namespace Vantor::Core
