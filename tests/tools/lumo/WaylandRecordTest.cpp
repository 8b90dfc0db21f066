// `lumo record` on a Wayland desktop of our own: sway on a headless output, the screen-cast
// portal with its wlroots backend, and PipeWire, all real; a painter keeps the output one
// colour. The sound comes from the PulseAudio stage. The files are judged by the library and
// by FFmpeg.

#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/Support/CaptureStage.h"
#include "tests/Support/ChildProcess.h"
#include "tests/Support/MediaProbe.h"
#include "tests/Support/RecordRuns.h"
#include "tests/Support/TempDir.h"
#include "tests/Support/WaylandStage.h"

namespace Vantor::Lumo {
namespace {

using Testing::ChildProcess;
using ::testing::ElementsAre;
using Testing::Entries;
using ::testing::IsEmpty;
using Testing::MakeDirectory;
using ::testing::Pair;
using ::testing::StartsWith;
using Testing::WaylandStage;

struct Rgb {
    const char* text;
    double red, green, blue;
};
// Three different channels, so that swapped channels show.
constexpr Rgb kFirst{"#2080e0", 0x20, 0x80, 0xe0};
constexpr Rgb kSecond{"#e0a020", 0xe0, 0xa0, 0x20};
constexpr double kColourTolerance = 12.0;  // H.264 and 4:2:0 rounding
constexpr double kStartTolerance = 0.1;
constexpr double kRunLimitSeconds = 40.0;  // far beyond any run here: a hang, not slowness

using Outcome = Testing::RecordOutcome;

class WaylandRecordTest : public ::testing::Test {
protected:
    void SetUp() override {
        try {
            stage = std::make_unique<WaylandStage>(kFirst.text);
            lumo = std::make_unique<Testing::RecordRuns>(LUMO_TOOL_PATH, root.Path(),
                                                         stage->ClientEnvironment());
        } catch (const std::exception& error) {
            FAIL() << "cannot set up the Wayland desktop: " << error.what();
        }
    }

    Outcome Finish(ChildProcess& run, const std::string& label) {
        const Outcome outcome = lumo->Finish(run, label, kRunLimitSeconds);
        EXPECT_NE(outcome.status, -1) << label << ": lumo record did not end in time";
        return outcome;
    }

    // Waits for the recorder's first entry in `directory`, then `seconds` more.
    static void WaitForRecording(ChildProcess& run, const std::string& directory, double seconds) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (Entries(directory).empty() && std::chrono::steady_clock::now() < deadline &&
               !run.WaitFor(0.02)) {
        }
        ASSERT_THAT(Entries(directory), ::testing::Not(IsEmpty())) << "nothing recorded";
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    }

    static void ExpectColour(const std::string& file, double atSeconds, const Rgb& expected) {
        const Testing::Colour colour = Testing::MeanColourAt(file, atSeconds);
        EXPECT_NEAR(colour.red, expected.red, kColourTolerance) << file << " at " << atSeconds;
        EXPECT_NEAR(colour.green, expected.green, kColourTolerance) << file << " at " << atSeconds;
        EXPECT_NEAR(colour.blue, expected.blue, kColourTolerance) << file << " at " << atSeconds;
    }

    // A run that ended well left one whole file of the screen alone, `seconds` long or more.
    static void ExpectScreenFile(const Outcome& run, const std::string& directory, double seconds) {
        ASSERT_EQ(run.status, 0) << run.err;
        const std::string file = directory + "/KorvelProject1.mkv";
        EXPECT_EQ(run.out, file + "\n");
        const Testing::MediaSummary summary = Testing::Summarise(file);
        ASSERT_EQ(summary.streams.size(), 1u) << file;
        ASSERT_TRUE(summary.durationSeconds) << file << ": no duration in the container";
        EXPECT_GE(*summary.durationSeconds, seconds) << file;
        ExpectColour(file, seconds / 2, kFirst);
    }

    Testing::TempDir root;
    std::unique_ptr<WaylandStage> stage;
    std::unique_ptr<Testing::RecordRuns> lumo;
};

// With --screen and no value the session's kind decides: here Wayland.
TEST_F(WaylandRecordTest, ARecordingHoldsTheDesktopAndTheSoundInStep) {
    Testing::CaptureStage sound;
    sound.PlayTone(440.0);
    auto environment = stage->ClientEnvironment();
    for (const auto& [name, value] : sound.SoundClientEnvironment()) {
        environment[name] = value;
    }
    const Testing::RecordRuns withSound(LUMO_TOOL_PATH, root.Path(), environment);
    const std::string takes = MakeDirectory(root.Path() + "/takes");
    auto run = withSound.Start(
        "record", {takes, "--screen", "--mic", sound.MonitorSource(), "--seconds", "3"});
    WaitForRecording(*run, takes, 1.5);
    stage->Paint(kSecond.text);
    const Outcome outcome = withSound.Finish(*run, "record", kRunLimitSeconds);
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    const std::string file = takes + "/KorvelProject1.mkv";
    EXPECT_EQ(outcome.out, file + "\n");
    EXPECT_THAT(Testing::LoadGroups(file),
                ElementsAre(Pair("screen", MediaType::Video), Pair("mic", MediaType::Audio)));

    const Testing::MediaSummary summary = Testing::Summarise(file);
    ASSERT_EQ(summary.streams.size(), 2u);
    const Testing::StreamSummary& video = summary.streams[0];
    const Testing::StreamSummary& audio = summary.streams[1];
    EXPECT_EQ(video.codec, "h264");
    EXPECT_EQ(video.width, WaylandStage::kWidth);
    EXPECT_EQ(video.height, WaylandStage::kHeight);
    EXPECT_NEAR(video.endSeconds - video.startSeconds, 3.0, 0.3);
    EXPECT_NEAR(video.startSeconds, audio.startSeconds, kStartTolerance);
    EXPECT_GE(video.packets, 80) << "pictures missing at 30 a second";
    ExpectColour(file, 0.3, kFirst);
    ExpectColour(file, 2.9, kSecond);
    EXPECT_NEAR(Testing::StrongestFrequency(Testing::SoundAt(file, 0.5, 2.0), 400, 480, 10), 440.0,
                10.0);
}

// Ctrl-C, the desktop's "stop sharing" (the session says Closed) and a stream that just goes
// away all finish the file and end well.
TEST_F(WaylandRecordTest, TheDesktopEndsARecordingAsCtrlCDoes) {
    const std::string interrupted = MakeDirectory(root.Path() + "/interrupted");
    auto run = lumo->Start("interrupted", {interrupted, "--screen", "wayland"});
    WaitForRecording(*run, interrupted, 1.5);
    run->Signal(SIGINT);
    ExpectScreenFile(Finish(*run, "interrupted"), interrupted, 1.0);

    const std::string closed = MakeDirectory(root.Path() + "/closed");
    run = lumo->Start("closed", {closed, "--screen", "wayland"});
    WaitForRecording(*run, closed, 1.5);
    stage->CloseCasts();
    ASSERT_TRUE(run->WaitFor(5.0)) << "the recording went on after the desktop stopped sharing";
    ExpectScreenFile(Finish(*run, "closed"), closed, 1.0);

    stage.reset();
    stage = std::make_unique<WaylandStage>(kFirst.text);
    const Testing::RecordRuns again(LUMO_TOOL_PATH, root.Path(), stage->ClientEnvironment());
    const std::string gone = MakeDirectory(root.Path() + "/gone");
    run = again.Start("gone", {gone, "--screen", "wayland"});
    WaitForRecording(*run, gone, 1.5);
    stage->KillCastBackend();
    ASSERT_TRUE(run->WaitFor(5.0)) << "the recording went on after the stream went away";
    ExpectScreenFile(again.Finish(*run, "gone", kRunLimitSeconds), gone, 1.0);
}

// An output that changes its size midway is scaled into the first size with black borders, in
// the one stream.
TEST_F(WaylandRecordTest, AnOutputOfAnotherSizeIsBordered) {
    const std::string takes = MakeDirectory(root.Path() + "/resized");
    auto run = lumo->Start("resized", {takes, "--screen", "wayland", "--seconds", "3"});
    WaitForRecording(*run, takes, 1.0);
    stage->ResizeOutput(960, 720);
    const Outcome outcome = Finish(*run, "resized");
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    const std::string file = takes + "/KorvelProject1.mkv";
    const auto streams = Testing::Summarise(file).streams;
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].width, WaylandStage::kWidth);
    EXPECT_EQ(streams[0].height, WaylandStage::kHeight);
    EXPECT_GE(streams[0].packets, 80) << "pictures missing at 30 a second";
    ExpectColour(file, 0.3, kFirst);
    // 960x720 in 1280x720: a quarter of the picture is border, the rest the colour.
    const Testing::Colour late = Testing::MeanColourAt(file, 2.9);
    EXPECT_NEAR(late.red, kFirst.red * 0.75, kColourTolerance);
    EXPECT_NEAR(late.green, kFirst.green * 0.75, kColourTolerance);
    EXPECT_NEAR(late.blue, kFirst.blue * 0.75, kColourTolerance);
}

// The portal's permission is kept (owner only) and used next time; a damaged one is dropped
// and the recording goes on; --forget-screen asks afresh. A region is cut from the output.
TEST_F(WaylandRecordTest, ThePermissionIsAskedOnce) {
    struct Take {
        std::string label;
        std::string storedBefore;  // empty: leave the file as it is
        std::vector<std::string> extra;
        int width = WaylandStage::kWidth;
        int height = WaylandStage::kHeight;
    };
    const std::vector<Take> takes{
        {"first", "", {}},
        {"again", "", {"--region", "640x360+320+180", "--no-cursor"}, 640, 360},
        {"damaged", "not a token at all", {}},
        {"forgotten", "", {"--forget-screen"}}};
    for (const Take& take : takes) {
        if (!take.storedBefore.empty()) {
            std::ofstream(stage->TokenPath()) << take.storedBefore << "\n";
        }
        const std::string directory = MakeDirectory(root.Path() + "/" + take.label);
        std::vector<std::string> args{directory, "--screen", "wayland", "--seconds", "1"};
        args.insert(args.end(), take.extra.begin(), take.extra.end());
        auto run = lumo->Start(take.label, args);
        ExpectScreenFile(Finish(*run, take.label), directory, 0.9);
        const auto streams = Testing::Summarise(directory + "/KorvelProject1.mkv").streams;
        ASSERT_EQ(streams.size(), 1u) << take.label;
        EXPECT_EQ(streams[0].width, take.width) << take.label;
        EXPECT_EQ(streams[0].height, take.height) << take.label;
        std::ifstream file(stage->TokenPath());
        std::string token;
        std::getline(file, token);
        EXPECT_THAT(token, ::testing::MatchesRegex("[0-9a-f-]{36}")) << take.label;
        struct stat status {};
        ASSERT_EQ(::stat(stage->TokenPath().c_str(), &status), 0) << take.label;
        EXPECT_EQ(status.st_mode & 0777, 0600u) << take.label;
    }
}

// Each failure is one line, exit 1, and leaves nothing: a window the portal can not share, a
// portal that fails to start the cast, a cast that never sends a picture, no session bus, no
// portal.
TEST_F(WaylandRecordTest, FailuresSayWhyAndLeaveNothingBehind) {
    struct Failure {
        std::string label;
        std::vector<std::string> extra;
        std::string says;
    };
    const auto expectFailure = [&](const Testing::RecordRuns& runs, const Failure& failure,
                                   double limitSeconds) {
        const std::string directory = MakeDirectory(root.Path() + "/" + failure.label);
        std::vector<std::string> args{directory, "--screen", "wayland"};
        args.insert(args.end(), failure.extra.begin(), failure.extra.end());
        const auto began = std::chrono::steady_clock::now();
        auto run = runs.Start(failure.label, args);
        const Outcome outcome = runs.Finish(*run, failure.label, kRunLimitSeconds);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - began;
        EXPECT_EQ(outcome.status, 1) << failure.label << ": " << outcome.err;
        EXPECT_EQ(Testing::CountLines(outcome.err), 1) << failure.label << ": " << outcome.err;
        EXPECT_THAT(outcome.err, StartsWith("lumo: ")) << failure.label;
        EXPECT_THAT(outcome.err, ::testing::HasSubstr(failure.says)) << failure.label;
        EXPECT_THAT(Entries(directory), IsEmpty()) << failure.label;
        EXPECT_LT(took.count(), limitSeconds) << failure.label;
    };

    expectFailure(*lumo, {"window", {"--window"}, "can not record a single window"}, 10.0);

    stage->FailCasts(true);
    expectFailure(*lumo, {"failing", {}, "screen-cast portal failed"}, 10.0);
    stage->FailCasts(false);

    stage->FreezeCasts(true);
    expectFailure(*lumo, {"frozen", {}, "no picture came from the screen cast within 10 s"}, 16.0);
    stage->FreezeCasts(false);

    auto environment = stage->ClientEnvironment();
    environment["DBUS_SESSION_BUS_ADDRESS"] = "";
    environment["XDG_RUNTIME_DIR"] = root.Path() + "/nowhere";
    const Testing::RecordRuns busless(LUMO_TOOL_PATH, root.Path(), environment);
    expectFailure(busless, {"busless", {}, "no D-Bus session bus"}, 10.0);

    stage->StopPortal();
    expectFailure(*lumo, {"portalless", {}, "no screen-cast portal"}, 15.0);
}

}  // namespace
}  // namespace Vantor::Lumo
