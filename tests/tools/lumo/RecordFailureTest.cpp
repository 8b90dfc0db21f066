// `lumo record` when its devices let it down: a server that takes the connection and never
// answers, a source that falls silent, a display that closes or shrinks, a sound server that
// dies, and the recorder itself stopped. Each ends in time with one line that names the cause;
// whatever was recorded is kept and its path printed; nothing else is left behind.

#include <signal.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <boost/filesystem.hpp>

#include "tests/Support/CaptureStage.h"
#include "tests/Support/RecordRuns.h"
#include "tests/Support/TempDir.h"

namespace Vantor::Lumo {
namespace {

namespace fs = boost::filesystem;
using Testing::CountLines;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::Pair;
using ::testing::StartsWith;
using Seconds = std::chrono::duration<double>;

class RecordFailureTest : public ::testing::Test {
protected:
    void SetUp() override {
        try {
            stage = std::make_unique<Testing::CaptureStage>();
            stage->FillScreen("#2080e0");
            stage->PlayTone(440.0);
            lumo = std::make_unique<Testing::RecordRuns>(LUMO_TOOL_PATH, root.Path(),
                                                         stage->SoundClientEnvironment());
        } catch (const std::exception& error) {
            FAIL() << "cannot set up the screen and sound servers: " << error.what();
        }
    }

    void TearDown() override {
        if (stage) {  // a stopped server would only die at its SIGKILL
            stage->SignalScreenServer(SIGCONT);
            stage->SignalSoundServer(SIGCONT);
        }
    }

    // Records from `args` until the recording ends by itself, after `before` seconds doing
    // `act` to the world; answers the outcome and checks that the file kept opens.
    Testing::RecordOutcome EndedMidway(const std::string& label, std::vector<std::string> args,
                                       double before, const std::function<void()>& act) {
        const std::string takes = Testing::MakeDirectory(root.Path() + "/" + label);
        args.insert(args.begin(), takes);
        auto run = lumo->Start(label, args);
        std::this_thread::sleep_for(Seconds(before));
        act();
        const Testing::RecordOutcome outcome = lumo->Finish(*run, label, 20.0);
        EXPECT_EQ(outcome.status, 1) << label << ": " << outcome.err;
        EXPECT_THAT(outcome.err, StartsWith("lumo: ")) << label;
        EXPECT_EQ(CountLines(outcome.err), 1) << label << ": " << outcome.err;
        const std::string file = takes + "/KorvelProject1.mkv";
        EXPECT_EQ(outcome.out, file + "\n") << label;
        EXPECT_NO_THROW(Testing::LoadGroups(file)) << label;
        return outcome;
    }

    Testing::TempDir root;
    std::unique_ptr<Testing::CaptureStage> stage;
    std::unique_ptr<Testing::RecordRuns> lumo;
};

// Servers that take the connection and never answer: Ctrl-C still ends lumo at once, and
// without it a device is given 10 s. Nothing is left, not even the directory the run made.
TEST_F(RecordFailureTest, AHangingDeviceNeverHoldsLumo) {
    stage->SignalScreenServer(SIGSTOP);
    stage->SignalSoundServer(SIGSTOP);
    const std::string fresh = root.Path() + "/fresh";
    const std::string takes = fresh + "/takes";
    auto interrupted = lumo->Start("interrupted", {takes, "--screen", stage->Display()});
    auto screen = lumo->Start("screen", {takes, "--screen", stage->Display()});
    auto mic = lumo->Start("mic", {takes, "--mic", stage->MonitorSource()});
    std::this_thread::sleep_for(Seconds(0.5));

    interrupted->Signal(SIGINT);
    const auto signalled = std::chrono::steady_clock::now();
    const Testing::RecordOutcome stopped = lumo->Finish(*interrupted, "interrupted", 2.0);
    EXPECT_LT(Seconds(std::chrono::steady_clock::now() - signalled).count(), 1.0);
    EXPECT_EQ(stopped.status, 1) << stopped.err;
    EXPECT_EQ(CountLines(stopped.err), 1) << stopped.err;

    for (auto& [run, label, cause] :
         {std::tuple{screen.get(), "screen", "did not answer within 10 s"},
          {mic.get(), "mic", "gave no sound within 10 s"}}) {
        const Testing::RecordOutcome outcome = lumo->Finish(*run, label, 15.0);
        EXPECT_EQ(outcome.status, 1) << label;
        EXPECT_THAT(outcome.err, HasSubstr(cause)) << label;
        EXPECT_EQ(CountLines(outcome.err), 1) << label << ": " << outcome.err;
        EXPECT_EQ(outcome.out, "") << label;
    }
    EXPECT_FALSE(fs::exists(fresh));
}

// A source that stops delivering for 5 s ends the recording; the line says which.
TEST_F(RecordFailureTest, ASourceThatFallsSilentEndsTheRecording) {
    const Testing::RecordOutcome outcome =
        EndedMidway("silent", {"--screen", stage->Display(), "--mic", stage->MonitorSource()}, 5.0,
                    [this] { stage->SignalSoundServer(SIGSTOP); });
    EXPECT_THAT(outcome.err, HasSubstr("the PulseAudio source '" + stage->MonitorSource() +
                                       "' stopped delivering"));
}

// What dies under a recording is named as the user knows it, not by FFmpeg's error code.
TEST_F(RecordFailureTest, ADisplayOrSoundServerLostMidwayIsNamed) {
    Testing::RecordOutcome outcome = EndedMidway("shrunk", {"--screen", stage->Display()}, 3.0,
                                                 [this] { stage->ResizeScreen(640, 480); });
    EXPECT_THAT(outcome.err, HasSubstr("the screen shrank to 640x480"));

    outcome = EndedMidway("sound", {"--mic", stage->MonitorSource()}, 5.0,
                          [this] { stage->SignalSoundServer(SIGKILL); });
    EXPECT_THAT(outcome.err,
                HasSubstr("the PulseAudio source '" + stage->MonitorSource() + "' closed"));

    outcome = EndedMidway("display", {"--screen", stage->Display()}, 3.0,
                          [this] { stage->SignalScreenServer(SIGKILL); });
    EXPECT_THAT(outcome.err, HasSubstr("the X display " + stage->Display() + " closed"));
}

// Pictures lost while the recorder itself was stopped are not the machine's fault.
TEST_F(RecordFailureTest, AStoppedRecorderDoesNotBlameTheMachine) {
    auto run = lumo->Start(
        "stopped", {root.Path(), "--screen", stage->Display(), "--mic", stage->MonitorSource()});
    std::this_thread::sleep_for(Seconds(2.0));
    run->Signal(SIGSTOP);
    std::this_thread::sleep_for(Seconds(1.5));
    run->Signal(SIGCONT);
    std::this_thread::sleep_for(Seconds(1.5));
    run->Signal(SIGINT);
    const Testing::RecordOutcome outcome = lumo->Finish(*run, "stopped");
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_THAT(outcome.err, Not(HasSubstr("could not keep up")));
    EXPECT_THAT(outcome.err, HasSubstr("the process was stopped for"));
    EXPECT_THAT(Testing::LoadGroups(root.Path() + "/KorvelProject1.mkv"),
                ElementsAre(Pair("screen", MediaType::Video), Pair("mic", MediaType::Audio)));
}

}  // namespace
}  // namespace Vantor::Lumo
