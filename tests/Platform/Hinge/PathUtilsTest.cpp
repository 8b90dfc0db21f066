#include "Platform/Hinge/PathUtils.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <boost/filesystem.hpp>

#include "tests/Support/LogCapture.h"
#include "tests/Support/TempDir.h"

namespace Vantor::Util {
namespace {

using namespace ::testing;
constexpr std::int64_t kLargest = std::numeric_limits<std::int64_t>::max();

int ProcessDescriptors() {
    int count = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (::readdir(dir)) {
            ++count;
        }
        ::closedir(dir);
    }
    return count;
}

// A chain of `depth` nested folders with 200-byte names, too long a path for the kernel to
// resolve at once. Each folder holds a 2-byte file and a "leaf" folder with a 1-byte file, so
// the whole tree is 3 bytes per level. Built and removed through descriptors only.
class DeepTree {
public:
    DeepTree(const std::string& root, int depth) : depth_(depth) {
        int parent = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        for (int level = 0; level < depth && parent >= 0; ++level) {
            ::mkdirat(parent, kName.c_str(), 0700);
            const int fd = ::openat(parent, kName.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            Populate(fd);
            chain_.push_back(parent);
            parent = fd;
        }
        chain_.push_back(parent);
    }
    ~DeepTree() {
        // Bottom up: each folder is emptied through its own descriptor, then removed from its
        // parent's.
        for (int level = static_cast<int>(chain_.size()) - 1; level >= 0; --level) {
            const int fd = chain_[level];
            if (level > 0) {
                ::unlinkat(fd, "f", 0);
                ::unlinkat(fd, "leaf/f", 0);
                ::unlinkat(fd, "leaf", AT_REMOVEDIR);
            }
            if (level + 1 < static_cast<int>(chain_.size())) {
                ::unlinkat(fd, kName.c_str(), AT_REMOVEDIR);
            }
            ::close(fd);
        }
    }
    std::int64_t Bytes() const { return 3LL * depth_; }

private:
    static void Populate(int fd) {
        ::mkdirat(fd, "leaf", 0700);
        for (const auto& [name, bytes] : {std::pair{"f", "ab"}, {"leaf/f", "c"}}) {
            const int file = ::openat(fd, name, O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
            EXPECT_EQ(::write(file, bytes, std::char_traits<char>::length(bytes)),
                      static_cast<ssize_t>(std::char_traits<char>::length(bytes)));
            ::close(file);
        }
    }

    const std::string kName = std::string(200, 'd');
    int depth_;
    std::vector<int> chain_;
};

// Lowers the process's descriptor limit for as long as it lives.
class DescriptorLimit {
public:
    explicit DescriptorLimit(rlim_t limit) {
        ::getrlimit(RLIMIT_NOFILE, &saved_);
        rlimit lowered = saved_;
        lowered.rlim_cur = limit;
        ::setrlimit(RLIMIT_NOFILE, &lowered);
    }
    ~DescriptorLimit() { ::setrlimit(RLIMIT_NOFILE, &saved_); }

private:
    rlimit saved_{};
};

class PathUtilsTest : public Test {
protected:
    // A folder for files as large as a size can say, as holes, on a file system that allows
    // them (tmpfs does; ext4 stops at 16 TiB): under TMPDIR, else in /dev/shm; empty if none.
    std::string HugeFileFolder() {
        for (const char* base : {static_cast<const char*>(nullptr), "/dev/shm"}) {
            std::unique_ptr<Testing::ScopedEnv> tmp;
            if (base) {
                tmp = std::make_unique<Testing::ScopedEnv>("TMPDIR", base);
            }
            huge_ = std::make_unique<Testing::TempDir>();
            if (Make(huge_->Path() + "/probe", kLargest)) {
                ::unlink((huge_->Path() + "/probe").c_str());
                return huge_->Path();
            }
        }
        return {};
    }
    static bool Make(const std::string& path, std::int64_t size) {
        Testing::WriteFile(path, "");
        return ::truncate(path.c_str(), size) == 0;
    }

private:
    std::unique_ptr<Testing::TempDir> huge_;
};

TEST_F(PathUtilsTest, SumsRegularFilesOnlyAndNeverFollowsLinks) {
    Testing::TempDir dir;
    const std::string root = dir.Path() + "/project";
    Testing::WriteFile(root + "/a.mkv", std::string(100, 'x'));
    Testing::WriteFile(root + "/takes/b.mkv", std::string(20, 'x'));
    Testing::WriteFile(root + "/takes/deeper/c.mkv", std::string(3, 'x'));
    Testing::WriteFile(root + "/takes/empty.mkv", "");
    boost::filesystem::create_directories(root + "/nothing/here");
    Testing::WriteFile(dir.Path() + "/outside/big.mkv", std::string(5000, 'x'));
    boost::filesystem::create_symlink(dir.Path() + "/outside", root + "/dir-link");
    boost::filesystem::create_symlink(dir.Path() + "/outside/big.mkv", root + "/file-link");
    boost::filesystem::create_symlink(dir.Path() + "/nowhere", root + "/dangling");
    ASSERT_EQ(::mkfifo((root + "/fifo").c_str(), 0600), 0);

    Testing::LogCapture log;
    EXPECT_EQ(GetPathSize(root), 123);
    EXPECT_EQ(GetPathSize(root + "/a.mkv"), 100);
    EXPECT_EQ(GetPathSize(root + "/file-link"), 0);
    EXPECT_EQ(GetPathSize(root + "/dir-link"), 0);
    EXPECT_EQ(GetPathSize(root + "/fifo"), 0);
    EXPECT_EQ(GetPathSize(root + "/missing"), 0);
    EXPECT_EQ(GetPathSize(ioPath()), 0);
    EXPECT_THAT(log.Lines(), IsEmpty());
}

TEST_F(PathUtilsTest, DepthCostsNothingAndDescriptorsStayFew) {
    for (const int depth : {101, 250}) {
        Testing::TempDir dir;
        const DeepTree tree(dir.Path(), depth);
        // Room for what the process holds now and a few dozen more, not one per level.
        const DescriptorLimit limit(static_cast<rlim_t>(ProcessDescriptors() + 80));
        EXPECT_EQ(GetPathSize(dir.Path()), tree.Bytes()) << depth << " levels";
    }
}

TEST_F(PathUtilsTest, TheTotalSaturatesInsteadOfOverflowing) {
    const std::string root = HugeFileFolder();
    if (root.empty()) {
        GTEST_SKIP() << "no file system here holds a file of 2^63-1 bytes";
    }
    ASSERT_TRUE(Make(root + "/one/a", kLargest));
    EXPECT_EQ(GetPathSize(root), kLargest);
    ASSERT_TRUE(Make(root + "/one/b", kLargest));  // beside it: one folder's own sum
    EXPECT_EQ(GetPathSize(root + "/one"), kLargest);
    ASSERT_TRUE(Make(root + "/two/c", kLargest));  // another folder: the sum of folders
    ASSERT_TRUE(Make(root + "/d", 1));
    EXPECT_EQ(GetPathSize(root), kLargest);
}

}  // namespace
}  // namespace Vantor::Util
