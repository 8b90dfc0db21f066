// `lumo record` of the built-in test signals, treated as an adversary would: many runs at once,
// kills at any moment, signals, a closed stdout, a full disk and nonsense arguments. Whatever
// happens, a run leaves either nothing or a project that opens with its groups, and never
// touches what another run made.

#include <signal.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <boost/filesystem.hpp>

#include "tests/Support/ChildProcess.h"
#include "tests/Support/MediaProbe.h"
#include "tests/Support/RecordRuns.h"
#include "tests/Support/TempDir.h"

namespace Vantor::Lumo {
namespace {

namespace fs = boost::filesystem;
using Testing::ChildProcess;
using Testing::CountLines;
using ::testing::ElementsAre;
using Testing::Entries;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Pair;

constexpr double kRunLimitSeconds = 30.0;  // a hang, not slowness

class RecordCommandTest : public ::testing::Test {
protected:
    static void ExpectScreenAndMic(const std::string& path) {
        try {
            EXPECT_THAT(Testing::LoadGroups(path), ElementsAre(Pair("screen", MediaType::Video),
                                                               Pair("mic", MediaType::Audio)))
                << path;
        } catch (const std::exception& error) {
            ADD_FAILURE() << path << " does not load: " << error.what();
        }
    }

    Testing::TempDir root;
    Testing::RecordRuns lumo{LUMO_TOOL_PATH, Testing::MakeDirectory(root.Path() + "/logs"), {}};
};

// Runs started together race for the same free name: each takes its own, and none removes
// another's file.
TEST_F(RecordCommandTest, RunsStartedTogetherEachKeepTheirOwnProject) {
    constexpr int kRounds = 5;
    constexpr int kRuns = 8;
    for (const bool folder : {false, true}) {
        const std::string takes =
            Testing::MakeDirectory(root.Path() + (folder ? "/folders" : "/containers"));
        std::set<std::string> printed;
        for (int round = 0; round < kRounds; ++round) {
            std::vector<std::unique_ptr<ChildProcess>> runs;
            for (int run = 0; run < kRuns; ++run) {
                std::vector<std::string> args{takes, "--seconds", "0.3"};
                if (folder) {
                    args.push_back("--folder");
                }
                runs.push_back(lumo.Start("run" + std::to_string(run), args));
            }
            for (int run = 0; run < kRuns; ++run) {
                const Testing::RecordOutcome outcome =
                    lumo.Finish(*runs[run], "run" + std::to_string(run));
                EXPECT_EQ(outcome.status, 0) << outcome.err;
                ASSERT_EQ(CountLines(outcome.out), 1) << outcome.out;
                printed.insert(outcome.out.substr(0, outcome.out.size() - 1));
            }
        }
        EXPECT_EQ(printed.size(), static_cast<std::size_t>(kRounds * kRuns));
        EXPECT_EQ(Entries(takes).size(), static_cast<std::size_t>(kRounds * kRuns));
        for (const std::string& path : printed) {
            if (folder) {
                EXPECT_THAT(Entries(path), ElementsAre("mic.mkv", "screen.mkv")) << path;
                EXPECT_THAT(Testing::LoadGroups(path + "/screen.mkv"),
                            ElementsAre(Pair("", MediaType::Video)));
            } else {
                ExpectScreenAndMic(path);
            }
        }
    }
}

// SIGKILL at any moment: before its first cluster the recording has no name; after it, the
// file opens.
TEST_F(RecordCommandTest, AKillAtAnyMomentLeavesNothingOrAFileThatOpens) {
    constexpr int kKills = 16;
    constexpr int kAtOnce = 4;
    int kept = 0;
    for (int first = 0; first < kKills; first += kAtOnce) {
        std::vector<std::pair<std::string, std::unique_ptr<ChildProcess>>> runs;
        for (int kill = first; kill < first + kAtOnce; ++kill) {
            const std::string takes =
                Testing::MakeDirectory(root.Path() + "/kill" + std::to_string(kill));
            runs.emplace_back(takes, lumo.Start("kill", {takes, "--seconds", "60"}));
        }
        // 0.2 s apart across the first 3.2 s, in which the sound settles and the first
        // cluster is written.
        const auto started = std::chrono::steady_clock::now();
        for (int run = 0; run < kAtOnce; ++run) {
            std::this_thread::sleep_until(started +
                                          std::chrono::milliseconds(50 + 200 * (first + run)));
            runs[run].second->Signal(SIGKILL);
        }
        for (auto& [takes, run] : runs) {
            ASSERT_TRUE(run->WaitFor(kRunLimitSeconds));
        }
        for (auto& [takes, run] : runs) {
            const std::set<std::string> left = Entries(takes);
            if (!left.empty()) {
                EXPECT_THAT(left, ElementsAre("KorvelProject1.mkv"));
                ExpectScreenAndMic(takes + "/KorvelProject1.mkv");
                ++kept;
            }
        }
    }
    // The late kills must have found files: the test proves nothing otherwise.
    EXPECT_GT(kept, 0);
}

// A reader that went away must not cost the recording: the file is finished first, and the
// failed write of its path is reported.
TEST_F(RecordCommandTest, AClosedStdoutIsReportedAfterTheFileIsFinished) {
    const std::string err = root.Path() + "/closed.err";
    ChildProcess shell({"bash", "-c",
                        "\"$0\" record \"$1\" --seconds 0.5 2>\"$2\" | head -c0; "
                        "exit ${PIPESTATUS[0]}",
                        LUMO_TOOL_PATH, root.Path(), err},
                       {});
    const auto exit = shell.WaitFor(kRunLimitSeconds);
    ASSERT_TRUE(exit);
    EXPECT_EQ(exit->status, 1);
    const std::string text = Testing::ReadFile(err);
    EXPECT_THAT(text, HasSubstr("standard output"));
    EXPECT_EQ(CountLines(text), 1) << text;
    const std::string file = root.Path() + "/KorvelProject1.mkv";
    ASSERT_TRUE(Testing::Summarise(file).durationSeconds) << "the file was not finished";
    ExpectScreenAndMic(file);
}

// A full disk mid-recording: the recording so far is kept, its path printed, the cause named.
TEST_F(RecordCommandTest, AFullDiskKeepsWhatWasRecorded) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "mounting a small file system needs root";
    }
    const std::string disk = Testing::MakeDirectory(root.Path() + "/disk");
    if (mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=256k") != 0) {
        GTEST_SKIP() << "cannot mount a tmpfs here";
    }
    struct Unmount {
        std::string path;
        ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
    } unmount{disk};
    // About 40 kB stay free: the first cluster fits, a couple of seconds do not.
    Testing::WriteFile(disk + "/filler", std::string(216 * 1024, 'x'));

    const Testing::RecordOutcome run = lumo.Record("full", {disk + "/takes", "--seconds", "30"});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("the disk is full"));
    EXPECT_EQ(CountLines(run.err), 1) << run.err;
    const std::string file = disk + "/takes/KorvelProject1.mkv";
    EXPECT_EQ(run.out, file + "\n");
    ExpectScreenAndMic(file);
}

// Nonsense is refused before anything is made.
TEST_F(RecordCommandTest, ArgumentsItCanNotServeAreBadUsageAndLeaveNothing) {
    const std::string fresh = root.Path() + "/fresh";
    const std::vector<std::vector<std::string>> cases = {
        {"--seconds", "nan"},
        {"--seconds", "inf"},
        {"--seconds", "-inf"},
        {"--screen", ""},
        {"--mic", ""},
        {"--screen", "", "--mic", "default"},
        {"--screen", ":0", "--region", "2x2+2147483647+0"},
        {"--screen", ":0", "--region", "2147483647x2+0+0"},
    };
    for (std::vector<std::string> args : cases) {
        const std::string command = ::testing::PrintToString(args);
        args.insert(args.begin(), fresh);
        const Testing::RecordOutcome run = lumo.Record("usage", args);
        EXPECT_EQ(run.status, 2) << command << run.err;
        EXPECT_EQ(run.out, "") << command;
        EXPECT_FALSE(fs::exists(fresh)) << command;
    }
}

}  // namespace
}  // namespace Vantor::Lumo
