// MoveToTrash on real directories, with the home trash inside them.

#include <fcntl.h>
#include <linux/fs.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>
#include <set>

#include <gmock/gmock.h>
#include <boost/filesystem.hpp>

#include "Platform/Plinth/FileSystem.h"
#include "tests/Support/LogCapture.h"
#include "tests/Support/ScopedTmpfs.h"
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

std::string Repeat(const std::string& unit, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += unit;
    }
    return text;
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

// Without HOME and XDG_DATA_HOME the trash is in the account's home from the password database.
// That home is shared, so the test hides it behind a tmpfs that only its own child process sees.
// The child's exit status says what it found: 0 all well, 1 not moved, 2 not in the trash,
// 3 a wrong info file, 254 no tmpfs over the home.
int TrashWithoutHomeVariables(void*) {
    const passwd* account = ::getpwuid(::geteuid());
    if (account == nullptr ||
        ::mount("lumo-test", account->pw_dir, "tmpfs", 0, "size=4m,mode=0700") != 0) {
        return 254;
    }
    const std::string home = account->pw_dir;
    ::unsetenv("XDG_DATA_HOME");
    ::unsetenv("HOME");
    const auto clip = WriteFile(home + "/work/clip.mkv", "account");
    if (!MoveToTrash(clip)) {
        return 1;
    }
    const std::string trash = home + "/.local/share/Trash";
    if (ReadFile(trash + "/files/clip.mkv") != "account" || fs::exists(clip)) {
        return 2;
    }
    return InfoOf("clip.mkv", trash) == Info(clip) ? 0 : 3;
}

TEST_F(TrashTest, WithoutHomeTheAccountHomeHoldsTheTrash) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "hiding the account's home behind a tmpfs needs root";
    }
    const int status = Testing::RunInPrivateMounts(&TrashWithoutHomeVariables, nullptr);
    if (status == 254 || status == 255 || status < 0) {
        GTEST_SKIP() << "no private tmpfs over the account's home (status " << status << ")";
    }
    EXPECT_EQ(status, 0);
}

// A recording folder on another file system than the home trash: the item goes to a trash at
// the top of that file system, never copied across. The second file system is a tmpfs.
class TopdirTrashTest : public TrashTest {
protected:
    void SetUp() override {
        if (!tmpfs_.Mounted()) {
            GTEST_SKIP() << "mounting a tmpfs needs root";
        }
        clip_ = WriteFile(top_ + "/takes/clip.mkv", "on tmpfs");
    }

    const std::string top_ = root_.Path() + "/mnt";
    const std::string uid_ = std::to_string(::geteuid());
    Testing::ScopedTmpfs tmpfs_{top_};
    std::string clip_;
};

TEST_F(TopdirTrashTest, WithoutASharedTrashTheItemGoesToTrashDashUid) {
    ASSERT_TRUE(MoveToTrash(clip_));
    const std::string trash = top_ + "/.Trash-" + uid_;
    EXPECT_FALSE(fs::exists(clip_));
    EXPECT_EQ(ReadFile(trash + "/files/clip.mkv"), "on tmpfs");
    // Paths in a trash at the top of a file system are relative to that top.
    EXPECT_EQ(InfoOf("clip.mkv", trash), Info("takes/clip.mkv"));
    EXPECT_FALSE(fs::exists(trash_));
}

TEST_F(TopdirTrashTest, AStickySharedTrashHoldsTheItemUnderTheUid) {
    fs::create_directory(top_ + "/.Trash");
    ASSERT_EQ(::chmod((top_ + "/.Trash").c_str(), 01777), 0);
    ASSERT_TRUE(MoveToTrash(clip_));
    const std::string trash = top_ + "/.Trash/" + uid_;
    EXPECT_EQ(ReadFile(trash + "/files/clip.mkv"), "on tmpfs");
    EXPECT_EQ(InfoOf("clip.mkv", trash), Info("takes/clip.mkv"));
    EXPECT_FALSE(fs::exists(top_ + "/.Trash-" + uid_));
}

// A shared trash without the sticky bit lets anybody remove anybody's entries, and a link may
// point anywhere: neither is used.
TEST_F(TopdirTrashTest, ASharedTrashThatIsNotStickyOrIsALinkIsPassedOver) {
    for (const bool link : {false, true}) {
        SCOPED_TRACE(link ? "a link" : "not sticky");
        const std::string shared = top_ + "/.Trash";
        if (link) {
            fs::create_directory(top_ + "/elsewhere");
            ASSERT_EQ(::chmod((top_ + "/elsewhere").c_str(), 01777), 0);
            fs::create_directory_symlink(top_ + "/elsewhere", shared);
        } else {
            fs::create_directory(shared);
            ASSERT_EQ(::chmod(shared.c_str(), 0777), 0);
        }
        ASSERT_TRUE(MoveToTrash(clip_));
        EXPECT_EQ(ReadFile(top_ + "/.Trash-" + uid_ + "/files/clip.mkv"), "on tmpfs");
        EXPECT_THAT(Entries(top_ + "/elsewhere"), IsEmpty());
        fs::remove_all(top_ + "/.Trash-" + uid_);
        fs::remove(shared);
        clip_ = WriteFile(top_ + "/takes/clip.mkv", "on tmpfs");
    }
}

TEST_F(TopdirTrashTest, WithoutAUsableTrashOnItsFileSystemTheItemStaysPut) {
    WriteFile(top_ + "/.Trash-" + uid_, "a file where the trash would be");
    Testing::LogCapture log;
    EXPECT_FALSE(MoveToTrash(clip_));
    EXPECT_EQ(ReadFile(clip_), "on tmpfs");
    EXPECT_FALSE(fs::exists(trash_));  // never copied to the home trash
    EXPECT_THAT(log.Lines(),
                ElementsAre(Pair(google::GLOG_WARNING, HasSubstr("refusing the trash '" + top_ +
                                                                 "/.Trash-" + uid_ + "'"))));
}

// NAME.trashinfo must fit into a directory entry, so long names are cut; never inside a UTF-8
// sequence, and the numbered suffix and the extension survive the cut.
TEST_F(TrashTest, LongNamesAreCutBetweenUtf8Characters) {
    const std::string twoBytes = Repeat("\xC3\xA9", 125);       // "é"
    const std::string threeBytes = Repeat("\xE2\x82\xAC", 83);  // "€"
    // 254 and 252 bytes: the entries fit, their info files do not.
    ASSERT_TRUE(MoveToTrash(WriteFile(Work("a/" + twoBytes + ".mkv"), "first")));
    ASSERT_TRUE(MoveToTrash(WriteFile(Work("b/" + twoBytes + ".mkv"), "second")));
    ASSERT_TRUE(MoveToTrash(WriteFile(Work(threeBytes + ".mk"), "third")));

    const auto first = twoBytes.substr(0, 240) + ".mkv";
    const auto second = twoBytes.substr(0, 238) + ".2.mkv";
    const auto third = threeBytes.substr(0, 240) + ".mk";
    EXPECT_THAT(Entries(trash_ + "/files"), UnorderedElementsAre(first, second, third));
    EXPECT_EQ(ReadFile(trash_ + "/files/" + second), "second");
    EXPECT_EQ(InfoOf(third, trash_), Info(Work(Repeat("%E2%82%AC", 83) + ".mk")));
}

}  // namespace
}  // namespace Vantor::Core
