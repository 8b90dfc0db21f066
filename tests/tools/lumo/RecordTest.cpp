// `lumo record` capturing a real screen and a real sound source: an Xvfb screen painted one
// colour and a 440 Hz tone played into a PulseAudio null sink, both servers our own. The files
// are judged by the library (LoadProject) and by FFmpeg (decoded pictures and sound).

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <boost/filesystem.hpp>

#include "tests/Support/CaptureStage.h"
#include "tests/Support/ChildProcess.h"
#include "tests/Support/MediaProbe.h"
#include "tests/Support/RecordRuns.h"
#include "tests/Support/TempDir.h"

namespace Vantor::Lumo {
namespace {

namespace fs = boost::filesystem;
using Testing::CaptureStage;
using Testing::ChildProcess;
using ::testing::ElementsAre;
using Testing::Entries;
using ::testing::IsEmpty;
using Testing::MakeDirectory;
using ::testing::Pair;
using ::testing::StartsWith;

// Three different channels, so that swapped channels show.
constexpr char kColour[] = "#2080e0";
constexpr double kRed = 0x20, kGreen = 0x80, kBlue = 0xe0;
constexpr double kColourTolerance = 12.0;  // H.264 and 4:2:0 rounding
constexpr double kTone = 440.0;
constexpr double kDurationTolerance = 0.3;
constexpr double kStartTolerance = 0.1;
constexpr double kRunLimitSeconds = 30.0;  // far beyond any run here: a hang, not slowness

// A command line split at its spaces.
std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    std::istringstream stream(line);
    for (std::string word; stream >> word;) {
        words.push_back(word);
    }
    return words;
}

using Outcome = Testing::RecordOutcome;

class RecordTest : public ::testing::Test {
protected:
    void SetUp() override {
        try {
            stage = std::make_unique<CaptureStage>();
            stage->FillScreen(kColour);
            stage->PlayTone(kTone);
            lumo = std::make_unique<Testing::RecordRuns>(LUMO_TOOL_PATH, root.Path(),
                                                         stage->SoundClientEnvironment());
        } catch (const std::exception& error) {
            FAIL() << "cannot set up the screen and sound servers: " << error.what();
        }
    }

    std::vector<std::string> Sources() const {
        return {"--screen", stage->Display(), "--mic", stage->MonitorSource()};
    }

    std::unique_ptr<ChildProcess> StartRecord(const std::string& label,
                                              const std::vector<std::string>& args) {
        return lumo->Start(label, args);
    }

    Outcome Finish(ChildProcess& run, const std::string& label) {
        const Outcome outcome = lumo->Finish(run, label, kRunLimitSeconds);
        EXPECT_NE(outcome.status, -1) << label << ": lumo record did not end in time";
        return outcome;
    }

    Outcome Record(const std::string& label, const std::vector<std::string>& args) {
        return Finish(*StartRecord(label, args), label);
    }

    static std::vector<std::pair<std::string, MediaType>> Groups(const std::string& path) {
        return Testing::LoadGroups(path);
    }

    // Waits for the recorder's first entry in `directory`, then `seconds` more.
    static void WaitForRecording(ChildProcess& lumo, const std::string& directory, double seconds) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (Entries(directory).empty() && std::chrono::steady_clock::now() < deadline &&
               !lumo.WaitFor(0.02)) {
        }
        ASSERT_THAT(Entries(directory), ::testing::Not(IsEmpty())) << "nothing recorded";
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    }

    static void ExpectColour(const std::string& file, double atSeconds) {
        const Testing::Colour colour = Testing::MeanColourAt(file, atSeconds);
        EXPECT_NEAR(colour.red, kRed, kColourTolerance) << file << " at " << atSeconds << " s";
        EXPECT_NEAR(colour.green, kGreen, kColourTolerance) << file << " at " << atSeconds;
        EXPECT_NEAR(colour.blue, kBlue, kColourTolerance) << file << " at " << atSeconds;
    }

    // The tone from `fromSeconds` for `seconds`: loud enough, at its pitch, without a gap.
    static void ExpectTone(const std::string& file, double fromSeconds, double seconds) {
        const Testing::Sound sound = Testing::SoundAt(file, fromSeconds, seconds);
        ASSERT_GE(sound.samples.size(), seconds * 48000 * 0.95) << file << ": sound missing";
        EXPECT_EQ(sound.sampleRate, 48000) << file;
        // The tone plays at an eighth of full scale: silence or clipping both show.
        EXPECT_NEAR(Testing::Loudness(sound), 0.125 / std::sqrt(2.0), 0.01) << file;
        EXPECT_EQ(Testing::StrongestFrequency(sound, 100.0, 4000.0, 10.0), kTone) << file;
        // A 440 Hz sine is near zero for a few samples at a time; lost sound is a longer hush.
        // (The stage plays with a 100 ms buffer: a recorder that keeps up hears no gap, as the
        // ffmpeg program shows.)
        const Testing::Silence gap = Testing::LongestSilence(sound, 0.01f);
        EXPECT_LT(gap.seconds, 0.005) << file << ": " << gap.seconds << " s without sound from "
                                      << fromSeconds + gap.startSeconds << " s";
    }

    Testing::TempDir root;
    std::unique_ptr<CaptureStage> stage;
    std::unique_ptr<Testing::RecordRuns> lumo;
};

// The check of this suite's own oracle, not of lumo: the checks below, proven on what the
// ffmpeg program records from the same stage.
TEST_F(RecordTest, OracleCheckFfmpegsOwnRecordingOfTheStagePassesTheChecks) {
    const std::string file = root.Path() + "/ffmpeg.mkv";
    auto ffmpeg = stage->Start(
        Words("ffmpeg -nostdin -v error -f x11grab -framerate 30 -video_size 1280x720 -i " +
              stage->Display() + " -f pulse -fragment_size 3840 -i " + stage->MonitorSource() +
              " -t 4 -c:v libx264 -preset veryfast -pix_fmt yuv420p -c:a flac " + file),
        "ffmpeg");
    const auto exit = ffmpeg->WaitFor(kRunLimitSeconds);
    ASSERT_TRUE(exit && exit->status == 0) << Testing::ReadFile(stage->Scratch() + "/ffmpeg.err");

    ExpectColour(file, 1.5);
    ExpectTone(file, 0.5, 2.0);
    const Testing::MediaSummary summary = Testing::Summarise(file);
    ASSERT_EQ(summary.streams.size(), 2u);
    EXPECT_NEAR(summary.streams[0].startSeconds, summary.streams[1].startSeconds, kStartTolerance);
}

TEST_F(RecordTest, ARecordingHoldsTheScreenAndTheSoundInStep) {
    const std::string takes = MakeDirectory(root.Path() + "/takes");
    std::vector<std::string> args = Sources();
    args.insert(args.begin(), takes);
    args.insert(args.end(), {"--seconds", "4"});
    const Outcome run = Record("record", args);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string file = takes + "/KorvelProject1.mkv";
    EXPECT_EQ(run.out, file + "\n");
    EXPECT_THAT(Entries(takes), ElementsAre("KorvelProject1.mkv"));

    EXPECT_THAT(Groups(file),
                ElementsAre(Pair("screen", MediaType::Video), Pair("mic", MediaType::Audio)));

    const Testing::MediaSummary summary = Testing::Summarise(file);
    ASSERT_EQ(summary.streams.size(), 2u);
    const Testing::StreamSummary& video = summary.streams[0];
    const Testing::StreamSummary& audio = summary.streams[1];
    EXPECT_EQ(video.codec, "h264");
    EXPECT_EQ(video.width, CaptureStage::kWidth);
    EXPECT_EQ(video.height, CaptureStage::kHeight);
    EXPECT_EQ(audio.sampleRate, 48000);
    ASSERT_TRUE(summary.durationSeconds) << "no duration in the container";
    EXPECT_NEAR(*summary.durationSeconds, 4.0, kDurationTolerance);
    EXPECT_NEAR(video.endSeconds - video.startSeconds, 4.0, kDurationTolerance);
    EXPECT_NEAR(audio.endSeconds - audio.startSeconds, 4.0, kDurationTolerance);
    EXPECT_NEAR(video.startSeconds, audio.startSeconds, kStartTolerance);

    ExpectColour(file, 2.0);
    ExpectTone(file, 0.5, 3.0);
}

// Every sound source is a stream of its own, in its own group, and as long as the recording.
TEST_F(RecordTest, SeveralMicrophonesAndTheSystemSoundEachGetAStreamAndAGroup) {
    const std::string takes = MakeDirectory(root.Path() + "/several");
    const Outcome run = Record(
        "several", {takes, "--screen", stage->Display(), "--mic", stage->MonitorSource(), "--mic",
                    stage->MonitorSource(), "--system-audio", stage->Sink(), "--seconds", "2"});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string file = takes + "/KorvelProject1.mkv";
    EXPECT_THAT(Groups(file),
                ElementsAre(Pair("screen", MediaType::Video), Pair("mic", MediaType::Audio),
                            Pair("mic2", MediaType::Audio), Pair("system", MediaType::Audio)));
    const Testing::MediaSummary summary = Testing::Summarise(file);
    ASSERT_EQ(summary.streams.size(), 4u);
    for (const Testing::StreamSummary& stream : summary.streams) {
        EXPECT_NEAR(stream.endSeconds - stream.startSeconds, 2.0, kDurationTolerance)
            << stream.codec;
    }
}

// Ctrl-C, or the terminal closing (SIGHUP), finishes the file; a kill midway leaves one that
// opens and plays up to the kill.
TEST_F(RecordTest, InterruptedRecordingsKeepTheirFiles) {
    const std::string killed = MakeDirectory(root.Path() + "/killed");
    std::vector<std::pair<int, std::string>> endings{{SIGINT, "interrupted"}, {SIGHUP, "hungup"}};
    std::vector<std::unique_ptr<ChildProcess>> ended;
    for (const auto& [signal, label] : endings) {
        std::vector<std::string> args = Sources();
        args.insert(args.begin(), MakeDirectory(root.Path() + "/" + label));
        ended.push_back(StartRecord(label, args));
    }
    std::vector<std::string> args = Sources();
    args.insert(args.begin(), killed);
    auto crashed = StartRecord("crashed", args);
    WaitForRecording(*crashed, killed, 3.0);
    for (std::size_t each = 0; each < endings.size(); ++each) {
        ended[each]->Signal(endings[each].first);
    }
    crashed->Signal(SIGKILL);

    for (std::size_t each = 0; each < endings.size(); ++each) {
        const std::string& label = endings[each].second;
        const Outcome run = Finish(*ended[each], label);
        EXPECT_EQ(run.status, 0) << label << ": " << run.err;
        const std::string file = root.Path() + "/" + label + "/KorvelProject1.mkv";
        EXPECT_EQ(run.out, file + "\n");
        EXPECT_THAT(Groups(file),
                    ElementsAre(Pair("screen", MediaType::Video), Pair("mic", MediaType::Audio)));
        const Testing::MediaSummary summary = Testing::Summarise(file);
        ASSERT_TRUE(summary.durationSeconds) << label << ": the file was not finished";
        EXPECT_GT(*summary.durationSeconds, 2.0) << label;
    }

    const auto end = crashed->WaitFor(kRunLimitSeconds);
    ASSERT_TRUE(end);
    EXPECT_EQ(end->signal, SIGKILL);
    const std::string crashedFile = killed + "/KorvelProject1.mkv";
    EXPECT_THAT(Entries(killed), ElementsAre("KorvelProject1.mkv"));
    EXPECT_THAT(Groups(crashedFile),
                ElementsAre(Pair("screen", MediaType::Video), Pair("mic", MediaType::Audio)));
    // At most about the last 2 s are lost.
    const Testing::MediaSummary crashedSummary = Testing::Summarise(crashedFile);
    ASSERT_EQ(crashedSummary.streams.size(), 2u);
    const Testing::StreamSummary& video = crashedSummary.streams[0];
    EXPECT_GE(video.endSeconds - video.startSeconds, 0.5);
    EXPECT_GT(crashedSummary.streams[1].packets, 0);
    ExpectColour(crashedFile, 0.2);
}

TEST_F(RecordTest, AFolderProjectHoldsOneSingleStreamFilePerSource) {
    std::vector<std::string> args = Sources();
    args.insert(args.begin(), {root.Path(), "--folder"});
    args.insert(args.end(), {"--seconds", "2", "--quiet"});
    const Outcome run = Record("folder", args);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string project = root.Path() + "/KorvelProject1";
    EXPECT_EQ(run.out, project + "\n");
    EXPECT_THAT(Entries(project), ::testing::UnorderedElementsAre("screen.mkv", "mic.mkv"));
    for (const auto& [file, type] :
         {std::pair{"screen.mkv", MediaType::Video}, {"mic.mkv", MediaType::Audio}}) {
        const std::string path = project + "/" + file;
        const auto groups = Groups(path);
        ASSERT_EQ(groups.size(), 1u) << file;
        EXPECT_EQ(groups[0].second, type) << file;
        const Testing::MediaSummary summary = Testing::Summarise(path);
        ASSERT_EQ(summary.streams.size(), 1u) << file;
        EXPECT_GT(summary.streams[0].packets, 0) << file;
    }
    ExpectColour(project + "/screen.mkv", 1.0);
}

// One source alone gives one group; a region gives its own size.
TEST_F(RecordTest, TheScreenAloneRecordsTheChosenRegion) {
    const Outcome run = Record("region", {root.Path(), "--screen", stage->Display(), "--region",
                                          "641x361+100+50", "--fps", "15", "--seconds", "1"});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string file = root.Path() + "/KorvelProject1.mkv";
    EXPECT_THAT(Groups(file), ElementsAre(Pair("screen", MediaType::Video)));
    const Testing::MediaSummary summary = Testing::Summarise(file);
    ASSERT_EQ(summary.streams.size(), 1u);
    EXPECT_EQ(summary.streams[0].width, 640);  // rounded down to even numbers
    EXPECT_EQ(summary.streams[0].height, 360);
    ExpectColour(file, 0.5);
}

// A source that cannot be opened: one line, exit 1, nothing left in the directory.
TEST_F(RecordTest, AMissingSourceLeavesNothingBehind) {
    int missing = 99;
    while (fs::exists("/tmp/.X11-unix/X" + std::to_string(missing)) ||
           fs::exists("/tmp/.X" + std::to_string(missing) + "-lock")) {
        ++missing;
    }
    const std::string noDisplay = ":" + std::to_string(missing);
    const std::string takes = MakeDirectory(root.Path() + "/takes");
    const std::vector<std::vector<std::string>> cases = {
        {takes, "--screen", noDisplay, "--mic", stage->MonitorSource(), "--seconds", "2"},
        {takes, "--folder", "--screen", noDisplay, "--mic", stage->MonitorSource(), "--seconds",
         "2"},
        {takes, "--screen", stage->Display(), "--mic", "no_such_source", "--seconds", "2"},
        {takes, "--folder", "--mic", "no_such_source", "--seconds", "2"},
    };
    for (const auto& args : cases) {
        const std::string label = "failure";
        const Outcome run = Record(label, args);
        const std::string command = ::testing::PrintToString(args);
        EXPECT_EQ(run.status, 1) << command;
        EXPECT_THAT(run.err, StartsWith("lumo: ")) << command;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << command << run.err;
        EXPECT_EQ(run.out, "") << command;
        EXPECT_THAT(Entries(takes), IsEmpty()) << command;
    }
}

}  // namespace
}  // namespace Vantor::Lumo
