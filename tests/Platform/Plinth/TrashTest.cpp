// MoveToTrash on real directories, with the home trash inside them.

#include <fcntl.h>
#include <linux/fs.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>
#include <set>

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
using Testing::ScopedEnv;
using Testing::WriteFile;

// The text of an item's info file, its deletion date checked and replaced by "DATE".
std::string InfoOf(const std::string& name, const std::string& trash) {
    static const std::regex date(R"(\nDeletionDate=\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\n)");
    return std::regex_replace(ReadFile(trash + "/info/" + name + ".trashinfo"), date, "\nDATE\n");
}
std::string Info(const std::string& path) {
    return "[Trash Info]\nPath=" + path + "\nDATE\n";
}

// Takes a test's item back out of a trash in a shared place, and the trash itself unless
// something else is in it now.
void TakeBack(const std::string& trash, const std::string& name) {
    boost::system::error_code ignored;
    for (const std::string& part : {"/files/" + name, "/info/" + name + ".trashinfo",
                                    std::string("/files"), std::string("/info"), std::string()}) {
        fs::remove(trash + part, ignored);
    }
}

// Makes the entries of `directory` unchangeable (read-only bits, or for root the immutable
// flag, which binds root too) or changeable again; false when this file system cannot.
bool SetDirectoryLocked(const std::string& directory, bool locked) {
    if (::geteuid() != 0) {
        return ::chmod(directory.c_str(), locked ? 0555 : 0755) == 0;
    }
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int flags = 0;
    bool done = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = locked ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    if (fd >= 0) {
        ::close(fd);
    }
    return done;
}

dev_t DeviceOf(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? status.st_dev : 0;
}

class TrashTest : public Test {
protected:
    std::string Work(const std::string& name) const { return root_.Path() + "/work/" + name; }

    Testing::TempDir root_;
    const std::string trash_ = root_.Path() + "/data/Trash";
    ScopedEnv data_{"XDG_DATA_HOME", root_.Path() + "/data"};
    ScopedEnv home_{"HOME", root_.Path() + "/home"};
};

TEST_F(TrashTest, FileAndDirectoryMoveIntoFilesWithMatchingInfo) {
    const std::string awkward = "it's \"a\" clip \xC3\xA9%.mkv";
    WriteFile(Work(awkward), "video bytes");
    WriteFile(Work("KorvelProject3/nested/mic.mkv"), "mic");
    fs::create_symlink(WriteFile(Work("outside.mkv"), "outside"), Work("KorvelProject3/link"));
    const fs::path previous = fs::current_path();
    fs::current_path(Work(""));
    Testing::LogCapture log;
    const bool relativeMoved = MoveToTrash(awkward);  // relative to the current directory
    fs::current_path(previous);

    ASSERT_TRUE(relativeMoved);
    ASSERT_TRUE(MoveToTrash(Work("KorvelProject3/")));
    EXPECT_THAT(Entries(Work("")), ElementsAre("outside.mkv"));
    EXPECT_EQ(ReadFile(trash_ + "/files/" + awkward), "video bytes");
    EXPECT_EQ(ReadFile(trash_ + "/files/KorvelProject3/nested/mic.mkv"), "mic");
    EXPECT_TRUE(fs::is_symlink(trash_ + "/files/KorvelProject3/link"));
    EXPECT_EQ(InfoOf(awkward, trash_), Info(Work("it's%20%22a%22%20clip%20%C3%A9%25.mkv")));
    EXPECT_EQ(InfoOf("KorvelProject3", trash_), Info(Work("KorvelProject3")));
    EXPECT_THAT(log.Lines(), IsEmpty());
}

// Recorders save every project under the same file name, each in a folder of its own.
TEST_F(TrashTest, ThousandEqualNamesAllSurviveAndRestoreByteForByte) {
    constexpr int kFolders = 1000;
    for (int i = 0; i < kFolders; ++i) {
        ASSERT_TRUE(
            MoveToTrash(WriteFile(Work(std::to_string(i) + "/take.mkv"), std::to_string(i))));
    }
    std::set<std::string> infoNames;
    for (const auto& name : Entries(trash_ + "/files")) {
        infoNames.insert(name + ".trashinfo");
        const std::string info = InfoOf(name, trash_);
        // The plain names need no percent-decoding; 18 is the length of "[Trash Info]\nPath=".
        fs::rename(trash_ + "/files/" + name, info.substr(18, info.find('\n', 18) - 18));
    }
    EXPECT_EQ(infoNames.size(), kFolders);
    EXPECT_EQ(Entries(trash_ + "/info"), infoNames);
    for (int i = 0; i < kFolders; ++i) {
        ASSERT_EQ(ReadFile(Work(std::to_string(i) + "/take.mkv")), std::to_string(i));
    }
}

// The info file is made first and taken back when the move fails, so a crash leaves an info
// file without its item at worst; an item in files/ without its info file is still somebody's
// data. Either way a new item takes another name, and nothing is ever replaced.
TEST_F(TrashTest, EntriesAreReservedFirstAndNeverReplaced) {
    WriteFile(trash_ + "/files/clip.mkv", "older");
    WriteFile(trash_ + "/info/clip.2.mkv.trashinfo", "orphan");
    ASSERT_TRUE(MoveToTrash(WriteFile(Work("clip.mkv"), "newer")));
    EXPECT_EQ(ReadFile(trash_ + "/files/clip.mkv"), "older");
    EXPECT_EQ(ReadFile(trash_ + "/info/clip.2.mkv.trashinfo"), "orphan");
    EXPECT_EQ(ReadFile(trash_ + "/files/clip.3.mkv"), "newer");
    EXPECT_EQ(InfoOf("clip.3.mkv", trash_), Info(Work("clip.mkv")));

    const auto locked = WriteFile(Work("locked/clip.mkv"), "keep me");
    if (!SetDirectoryLocked(Work("locked"), true)) {
        GTEST_SKIP() << "cannot lock a directory under " << root_.Path();
    }
    const bool moved = MoveToTrash(locked);
    SetDirectoryLocked(Work("locked"), false);
    EXPECT_FALSE(moved);
    EXPECT_EQ(ReadFile(locked), "keep me");
    EXPECT_THAT(Entries(trash_ + "/info"),
                ElementsAre("clip.2.mkv.trashinfo", "clip.3.mkv.trashinfo"));
    EXPECT_THAT(Entries(trash_ + "/files"), ElementsAre("clip.3.mkv", "clip.mkv"));
}

TEST_F(TrashTest, RefusesWhatItCannotTrashSafely) {
    ASSERT_TRUE(MoveToTrash(WriteFile(Work("clip.mkv"), "x")));
    for (const std::string& path : {Work("missing.mkv"), Work("missing/clip.mkv"), std::string(),
                                    trash_, trash_ + "/files/clip.mkv", root_.Path() + "/data"}) {
        EXPECT_FALSE(MoveToTrash(path)) << path;
    }
    EXPECT_EQ(ReadFile(trash_ + "/files/clip.mkv"), "x");
    EXPECT_THAT(Entries(trash_ + "/info"), ElementsAre("clip.mkv.trashinfo"));

    // A trash that is a symbolic link could send the user's files anywhere.
    fs::create_directories(root_.Path() + "/elsewhere");
    fs::create_directories(root_.Path() + "/linked");
    fs::create_directory_symlink(root_.Path() + "/elsewhere", root_.Path() + "/linked/Trash");
    ScopedEnv linked("XDG_DATA_HOME", root_.Path() + "/linked");
    EXPECT_FALSE(MoveToTrash(WriteFile(Work("kept.mkv"), "keep me")));
    EXPECT_EQ(ReadFile(Work("kept.mkv")), "keep me");
    EXPECT_THAT(Entries(root_.Path() + "/elsewhere"), IsEmpty());
}

TEST_F(TrashTest, WithoutXdgDataHomeTheHomeHoldsTheTrash) {
    ScopedEnv unset("XDG_DATA_HOME", std::nullopt);  // read at every call
    ASSERT_TRUE(MoveToTrash(WriteFile(Work("clip.mkv"), "x")));
    EXPECT_EQ(ReadFile(root_.Path() + "/home/.local/share/Trash/files/clip.mkv"), "x");
}

// Without HOME and XDG_DATA_HOME the trash is in the account's home, a shared place: the test
// takes its entry back out.
TEST_F(TrashTest, WithoutHomeTheAccountHomeHoldsTheTrash) {
    const passwd* account = ::getpwuid(::geteuid());
    ASSERT_NE(account, nullptr);
    const std::string trash = std::string(account->pw_dir) + "/.local/share/Trash";
    const std::string name = "lumo-test-" + fs::path(root_.Path()).filename().string();
    const auto clip = WriteFile(Work(name), "account");
    ScopedEnv noData("XDG_DATA_HOME", std::nullopt);
    ScopedEnv noHome("HOME", std::nullopt);

    if (MoveToTrash(clip)) {
        EXPECT_EQ(ReadFile(trash + "/files/" + name), "account");
        EXPECT_EQ(InfoOf(name, trash), Info(clip));
        TakeBack(trash, name);
    } else {  // a home on another file system, without a trash there
        EXPECT_EQ(ReadFile(clip), "account");
    }
}

// A recording folder on another file system than the home trash: the item goes to the trash at
// the top of that file system, or stays where it is. It is never copied across.
TEST_F(TrashTest, ItemOnAnotherFileSystemGoesToItsOwnTrashOrStaysPut) {
    const std::string shm = "/dev/shm";
    fs::create_directories(Work(""));
    if (DeviceOf(shm) == 0 || DeviceOf(shm) == DeviceOf(Work("")) || ::access(shm.c_str(), W_OK)) {
        GTEST_SKIP() << "needs a writable " << shm << " on another file system than "
                     << root_.Path();
    }
    const std::string trash = shm + "/.Trash-" + std::to_string(::geteuid());
    std::string folder = shm + "/lumo-test-XXXXXX";
    ASSERT_NE(::mkdtemp(folder.data()), nullptr);
    const std::string name = fs::path(folder).filename().string() + ".mkv";
    const auto clip = WriteFile(folder + "/" + name, "on tmpfs");

    if (MoveToTrash(clip)) {
        EXPECT_FALSE(fs::exists(clip));
        EXPECT_EQ(ReadFile(trash + "/files/" + name), "on tmpfs");
        // Paths in a trash at the top of a file system are relative to that top.
        EXPECT_EQ(InfoOf(name, trash), Info(clip.substr(shm.size() + 1)));
        EXPECT_FALSE(fs::exists(trash_));
    } else {
        EXPECT_EQ(ReadFile(clip), "on tmpfs");
    }
    boost::system::error_code ignored;
    fs::remove_all(folder, ignored);
    TakeBack(trash, name);
}

}  // namespace
}  // namespace Vantor::Core
