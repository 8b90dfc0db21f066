#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <boost/filesystem.hpp>

#include "Platform/Plinth/FileSystem.h"
#include "tests/Support/LogCapture.h"
#include "tests/Support/TempDir.h"

namespace Vantor::Core {
namespace {

namespace fs = boost::filesystem;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::IsEmpty;
using Testing::LogCapture;
using ::testing::MatchesRegex;
using Testing::ReadFile;
using Testing::ScopedEnv;
using ::testing::SizeIs;
using Testing::TempDir;
using Testing::WriteFile;

std::string PercentDecode(const std::string& text) {
    std::string decoded;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            decoded += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            decoded += text[i];
        }
    }
    return decoded;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::string::size_type start = 0;
    for (auto end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    if (start < text.size()) {
        lines.push_back(text.substr(start));
    }
    return lines;
}

std::vector<std::string> Entries(const std::string& directory) {
    std::vector<std::string> names;
    boost::system::error_code error;
    for (fs::directory_iterator it(directory, error), end; !error && it != end; ++it) {
        names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Runs on scope exit, so that tests touching shared places clean up after a failed assertion.
struct Cleanup {
    std::function<void()> action;
    ~Cleanup() { action(); }
};

class TrashTest : public ::testing::Test {
protected:
    std::string Work(const std::string& name) const { return root_.Path() + "/work/" + name; }
    std::string Trash() const { return root_.Path() + "/data/Trash"; }

    std::string MakeFile(const std::string& path, const std::string& content) const {
        fs::create_directories(fs::path(path).parent_path());
        WriteFile(path, content);
        return path;
    }

    std::string InfoOf(const std::string& name) const {
        return ReadFile(Trash() + "/info/" + name + ".trashinfo");
    }

    TempDir root_;
    ScopedEnv data_{"XDG_DATA_HOME", root_.Path() + "/data"};
    ScopedEnv home_{"HOME", root_.Path() + "/home"};
};

TEST_F(TrashTest, FileMovesIntoFilesWithMatchingInfo) {
    const auto clip = MakeFile(Work("clip.mkv"), "video bytes");
    LogCapture log;

    ASSERT_TRUE(MoveToTrash(clip));

    EXPECT_FALSE(fs::exists(fs::symlink_status(clip)));
    EXPECT_EQ(ReadFile(Trash() + "/files/clip.mkv"), "video bytes");
    EXPECT_THAT(
        Lines(InfoOf("clip.mkv")),
        ElementsAre("[Trash Info]", "Path=" + clip,
                    MatchesRegex("DeletionDate=[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:"
                                 "[0-9]{2}")));
    struct stat info {};
    ASSERT_EQ(::stat((Trash() + "/info/clip.mkv.trashinfo").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_THAT(log.Lines(), IsEmpty());
}

TEST_F(TrashTest, DirectoryMovesWithItsContent) {
    MakeFile(Work("KorvelProject3/screen.mkv"), "screen");
    MakeFile(Work("KorvelProject3/nested/mic.mkv"), "mic");

    ASSERT_TRUE(MoveToTrash(Work("KorvelProject3/")));

    EXPECT_FALSE(fs::exists(Work("KorvelProject3")));
    EXPECT_EQ(ReadFile(Trash() + "/files/KorvelProject3/screen.mkv"), "screen");
    EXPECT_EQ(ReadFile(Trash() + "/files/KorvelProject3/nested/mic.mkv"), "mic");
    EXPECT_EQ(Lines(InfoOf("KorvelProject3")).at(1), "Path=" + Work("KorvelProject3"));
}

TEST_F(TrashTest, RelativeAwkwardNameIsRecordedAbsoluteAndPercentEncoded) {
    const std::string name = "it's \"a\" clip \xC3\xA9%.mkv";
    MakeFile(Work(name), "x");
    const fs::path previous = fs::current_path();
    fs::current_path(Work(""));
    Cleanup restore{[&] { fs::current_path(previous); }};

    ASSERT_TRUE(MoveToTrash(name));

    const auto lines = Lines(InfoOf(name));
    ASSERT_THAT(lines, SizeIs(3));
    EXPECT_THAT(lines[1], EndsWith("/work/it's%20%22a%22%20clip%20%C3%A9%25.mkv"));
    EXPECT_EQ(PercentDecode(lines[1]), "Path=" + Work(name));
}

TEST_F(TrashTest, EqualNamesFromManyFoldersAllSurviveAndRestore) {
    constexpr int kFolders = 50;
    for (int i = 0; i < kFolders; ++i) {
        const auto clip = MakeFile(Work("take" + std::to_string(i) + "/KorvelProject.mkv"),
                                   "take " + std::to_string(i));
        ASSERT_TRUE(MoveToTrash(clip)) << clip;
    }
    const auto files = Entries(Trash() + "/files");
    ASSERT_THAT(files, SizeIs(kFolders));
    ASSERT_THAT(Entries(Trash() + "/info"), SizeIs(kFolders));

    for (const auto& name : files) {
        const auto path = PercentDecode(Lines(InfoOf(name)).at(1).substr(5));
        fs::rename(Trash() + "/files/" + name, path);
    }
    for (int i = 0; i < kFolders; ++i) {
        EXPECT_EQ(ReadFile(Work("take" + std::to_string(i) + "/KorvelProject.mkv")),
                  "take " + std::to_string(i));
    }
}

TEST_F(TrashTest, EntryInFilesWithoutInfoIsNeverReplaced) {
    MakeFile(Trash() + "/files/clip.mkv", "older");
    MakeFile(Trash() + "/files/clip.2.mkv", "older 2");
    ASSERT_TRUE(MoveToTrash(MakeFile(Work("clip.mkv"), "newer")));

    EXPECT_EQ(ReadFile(Trash() + "/files/clip.mkv"), "older");
    EXPECT_EQ(ReadFile(Trash() + "/files/clip.2.mkv"), "older 2");
    EXPECT_EQ(ReadFile(Trash() + "/files/clip.3.mkv"), "newer");
    EXPECT_THAT(Entries(Trash() + "/info"), ElementsAre("clip.3.mkv.trashinfo"));
}

TEST_F(TrashTest, SymbolicLinkIsTrashedItselfNotItsTarget) {
    const auto target = MakeFile(Work("target.mkv"), "target");
    fs::create_symlink(target, Work("link.mkv"));

    ASSERT_TRUE(MoveToTrash(Work("link.mkv")));

    EXPECT_TRUE(fs::is_symlink(Trash() + "/files/link.mkv"));
    EXPECT_EQ(ReadFile(target), "target");
}

TEST_F(TrashTest, NothingAtThePathIsFalseAndLeavesNoEntry) {
    EXPECT_FALSE(MoveToTrash(Work("missing.mkv")));
    EXPECT_FALSE(MoveToTrash(Work("missing-folder/missing.mkv")));
    EXPECT_FALSE(MoveToTrash(""));
    EXPECT_THAT(Entries(Trash() + "/info"), IsEmpty());
    EXPECT_THAT(Entries(Trash() + "/files"), IsEmpty());
}

TEST_F(TrashTest, TrashThatIsASymbolicLinkIsRefused) {
    const auto elsewhere = root_.Path() + "/elsewhere";
    fs::create_directories(elsewhere);
    fs::create_directories(root_.Path() + "/data");
    fs::create_directory_symlink(elsewhere, Trash());
    const auto clip = MakeFile(Work("clip.mkv"), "keep me");

    EXPECT_FALSE(MoveToTrash(clip));

    EXPECT_EQ(ReadFile(clip), "keep me");
    EXPECT_THAT(Entries(elsewhere), IsEmpty());
}

TEST_F(TrashTest, TrashAndWhatHoldsItAreNotTrashed) {
    ASSERT_TRUE(MoveToTrash(MakeFile(Work("clip.mkv"), "x")));

    EXPECT_FALSE(MoveToTrash(Trash()));
    EXPECT_FALSE(MoveToTrash(Trash() + "/files/clip.mkv"));
    EXPECT_FALSE(MoveToTrash(Trash() + "/info"));
    EXPECT_FALSE(MoveToTrash(root_.Path() + "/data"));
    EXPECT_EQ(ReadFile(Trash() + "/files/clip.mkv"), "x");
    EXPECT_THAT(Entries(Trash() + "/info"), ElementsAre("clip.mkv.trashinfo"));
}

TEST_F(TrashTest, EnvironmentIsReadAtEveryCall) {
    ASSERT_TRUE(MoveToTrash(MakeFile(Work("one.mkv"), "1")));
    {
        ScopedEnv other("XDG_DATA_HOME", root_.Path() + "/other");
        ASSERT_TRUE(MoveToTrash(MakeFile(Work("two.mkv"), "2")));
    }
    {
        ScopedEnv unset("XDG_DATA_HOME", std::nullopt);
        ASSERT_TRUE(MoveToTrash(MakeFile(Work("three.mkv"), "3")));
    }
    {
        ScopedEnv relative("XDG_DATA_HOME", "relative/data");  // not absolute: ignored
        ASSERT_TRUE(MoveToTrash(MakeFile(Work("four.mkv"), "4")));
    }
    {
        ScopedEnv other("XDG_DATA_HOME", root_.Path() + "/other");
        ScopedEnv noHome("HOME", std::nullopt);
        ASSERT_TRUE(MoveToTrash(MakeFile(Work("five.mkv"), "5")));
    }

    EXPECT_THAT(Entries(Trash() + "/files"), ElementsAre("one.mkv"));
    EXPECT_THAT(Entries(root_.Path() + "/other/Trash/files"), ElementsAre("five.mkv", "two.mkv"));
    EXPECT_THAT(Entries(root_.Path() + "/home/.local/share/Trash/files"),
                ElementsAre("four.mkv", "three.mkv"));
}

// Without HOME and XDG_DATA_HOME the account's home directory holds the trash; the test takes
// its own entry back out and removes only the directories it made.
TEST_F(TrashTest, MissingHomeFallsBackToTheAccountHome) {
    const passwd* account = ::getpwuid(::geteuid());
    ASSERT_NE(account, nullptr);
    const std::string home = account->pw_dir;
    struct stat homeStatus {
    }, workStatus{};
    fs::create_directories(Work(""));
    if (::stat(home.c_str(), &homeStatus) != 0 || ::stat(Work("").c_str(), &workStatus) != 0 ||
        homeStatus.st_dev != workStatus.st_dev || ::access(home.c_str(), W_OK) != 0) {
        GTEST_SKIP() << "the account home " << home << " is not a writable directory on the "
                     << "file system of " << root_.Path();
    }
    const std::string trash = home + "/.local/share/Trash";
    std::vector<std::string> made;
    for (const auto& directory :
         {home + "/.local", home + "/.local/share", trash, trash + "/files", trash + "/info"}) {
        if (!fs::exists(fs::symlink_status(directory))) {
            made.push_back(directory);
        }
    }
    const std::string name = "lumo-trash-test-" + fs::path(root_.Path()).filename().string();
    Cleanup cleanup{[&] {
        boost::system::error_code ignored;
        fs::remove(trash + "/files/" + name, ignored);
        fs::remove(trash + "/info/" + name + ".trashinfo", ignored);
        for (auto it = made.rbegin(); it != made.rend(); ++it) {
            fs::remove(*it, ignored);  // only when empty
        }
    }};
    ScopedEnv noData("XDG_DATA_HOME", std::nullopt);
    ScopedEnv noHome("HOME", std::nullopt);

    ASSERT_TRUE(MoveToTrash(MakeFile(Work(name), "account")));

    EXPECT_EQ(ReadFile(trash + "/files/" + name), "account");
    EXPECT_THAT(ReadFile(trash + "/info/" + name + ".trashinfo"),
                ::testing::HasSubstr("\nPath=" + Work(name) + "\n"));
}

// /dev/shm is tmpfs, a file system of its own: its items go to the trash at its top directory.
TEST_F(TrashTest, ItemOnAnotherFileSystemGoesToItsOwnTrashOrStaysPut) {
    const std::string shm = "/dev/shm";
    struct stat shmStatus {
    }, workStatus{};
    fs::create_directories(Work(""));
    if (::stat(shm.c_str(), &shmStatus) != 0 || ::stat(Work("").c_str(), &workStatus) != 0 ||
        shmStatus.st_dev == workStatus.st_dev || ::access(shm.c_str(), W_OK) != 0) {
        GTEST_SKIP() << "needs a writable " << shm << " on another file system than "
                     << root_.Path();
    }
    const std::string trash = shm + "/.Trash-" + std::to_string(::geteuid());
    const bool hadTrash = fs::exists(fs::symlink_status(trash));
    std::string folder = shm + "/lumo-trash-test-XXXXXX";
    ASSERT_NE(::mkdtemp(folder.data()), nullptr);
    const std::string name = fs::path(folder).filename().string() + ".mkv";
    Cleanup cleanup{[&] {
        boost::system::error_code ignored;
        fs::remove_all(folder, ignored);
        fs::remove(trash + "/files/" + name, ignored);
        fs::remove(trash + "/info/" + name + ".trashinfo", ignored);
        if (!hadTrash) {
            fs::remove(trash + "/files", ignored);
            fs::remove(trash + "/info", ignored);
            fs::remove(trash, ignored);
        }
    }};
    const auto clip = MakeFile(folder + "/" + name, "on tmpfs");

    if (!MoveToTrash(clip)) {
        EXPECT_EQ(ReadFile(clip), "on tmpfs");
        return;
    }
    EXPECT_FALSE(fs::exists(clip));
    EXPECT_EQ(ReadFile(trash + "/files/" + name), "on tmpfs");
    // Paths in a trash at the top of a file system are relative to that top.
    EXPECT_EQ(Lines(ReadFile(trash + "/info/" + name + ".trashinfo")).at(1),
              "Path=" + fs::path(folder).filename().string() + "/" + name);
    EXPECT_FALSE(fs::exists(Trash()));
}

}  // namespace
}  // namespace Vantor::Core
