// A whole recording, in process, from sources that misbehave on cue: what ends up on disk,
// under which name, and when.

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/time.h>
}

#include "Recorder/Recording.h"
#include "Recorder/Sources/TestSignals.h"
#include "tests/Support/MediaProbe.h"
#include "tests/Support/TempDir.h"

namespace Vantor::Lumo::Recorder {
namespace {

using ::testing::ElementsAre;
using Testing::Entries;
using Clock = std::chrono::steady_clock;

// Where a scripted source waits, once it blocks, until the test lets it go.
class Gate {
public:
    void Wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        opened_.wait(lock, [this] { return open_; });
    }
    void Open() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            open_ = true;
        }
        opened_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable opened_;
    bool open_ = false;
};

enum class Then { GoesOn, Throws, Blocks };

// Grey 160x120 YUV 4:2:0 pictures, 25 a second, or 48 kHz stereo s16 sound in 20 ms pieces,
// each delivered when due and stamped with av_gettime(), as a device does. After `pieces`
// pieces it throws or blocks at `gate`, as the script says.
class ScriptedSource : public Source {
public:
    ScriptedSource(MediaType type, int pieces, Then then, std::shared_ptr<Gate> gate = nullptr,
                   std::string diagnosis = "")
        : description_(type == MediaType::Video ? "the scripted camera" : "the scripted mic"),
          pieces_(pieces),
          then_(then),
          gate_(std::move(gate)),
          diagnosis_(std::move(diagnosis)),
          parameters_(avcodec_parameters_alloc()) {
        if (type == MediaType::Video) {
            parameters_->codec_type = AVMEDIA_TYPE_VIDEO;
            parameters_->codec_id = AV_CODEC_ID_RAWVIDEO;
            parameters_->format = AV_PIX_FMT_YUV420P;
            parameters_->width = 160;
            parameters_->height = 120;
            bytes_ = 160 * 120 * 3 / 2;
            period_ = 40'000;
        } else {
            parameters_->codec_type = AVMEDIA_TYPE_AUDIO;
            parameters_->codec_id = AV_CODEC_ID_PCM_S16LE;
            parameters_->format = AV_SAMPLE_FMT_S16;
            parameters_->sample_rate = 48000;
            av_channel_layout_default(&parameters_->ch_layout, 2);
            bytes_ = 960 * 4;
            period_ = 20'000;
        }
    }
    ~ScriptedSource() override { avcodec_parameters_free(&parameters_); }

    const std::string& Description() const override { return description_; }
    const AVCodecParameters& Parameters() const override { return *parameters_; }
    int FramesPerSecond() const override { return period_ == 40'000 ? 25 : 0; }
    std::string Diagnose() override { return diagnosis_; }

    std::int64_t Read(AVPacket& packet) override {
        if (read_ == pieces_ && then_ == Then::Throws) {
            throw std::runtime_error(description_ + " broke");
        }
        if (read_ == pieces_ && then_ == Then::Blocks) {
            gate_->Wait();
            throw std::runtime_error(description_ + " was let go");
        }
        start_ = read_ == 0 ? av_gettime() : start_;
        const std::int64_t wait = start_ + read_++ * period_ - av_gettime();
        if (wait > 0) {
            av_usleep(static_cast<unsigned>(wait));
        }
        if (av_new_packet(&packet, bytes_) < 0) {
            throw std::bad_alloc();
        }
        std::memset(packet.data, period_ == 40'000 ? 128 : 0, static_cast<std::size_t>(bytes_));
        return av_gettime();
    }

private:
    std::string description_;
    int pieces_;
    Then then_;
    std::shared_ptr<Gate> gate_;
    std::string diagnosis_;
    AVCodecParameters* parameters_;
    int bytes_ = 0;
    std::int64_t period_ = 0;
    int read_ = 0;
    std::int64_t start_ = 0;
};

// The streams FFmpeg finds in `path`; -1 when it can not open it.
int StreamsIn(const std::string& path) {
    AVFormatContext* context = nullptr;
    if (avformat_open_input(&context, path.c_str(), nullptr, nullptr) < 0) {
        return -1;
    }
    const int streams = avformat_find_stream_info(context, nullptr) < 0
                            ? -1
                            : static_cast<int>(context->nb_streams);
    avformat_close_input(&context);
    return streams;
}

std::int64_t MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

std::string MessageOf(Recording& recording, double limit) {
    try {
        recording.Run(std::nullopt, [limit](double seconds) { return seconds < limit; });
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "";
}

class RecordingTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { av_log_set_level(AV_LOG_WARNING); }  // no x264 statistics
    ~RecordingTest() override { gate_->Open(); }  // sources left blocked end now

    std::string PathOf(const std::string& name) const { return dir_.Path() + "/" + name; }

    // A recording of `pictures` and `sound` into one file, `name` in the temporary directory.
    std::unique_ptr<Recording> Prepare(std::unique_ptr<Source> pictures,
                                       std::unique_ptr<Source> sound,
                                       const std::string& name = "take.mkv") {
        std::vector<Track> tracks(2);
        tracks[0].source = std::move(pictures);
        tracks[1].source = std::move(sound);
        for (int index : {0, 1}) {
            tracks[index].stream.path = PathOf(name);
            tracks[index].stream.type = index == 0 ? MediaType::Video : MediaType::Audio;
            tracks[index].stream.index = index;
        }
        return std::make_unique<Recording>(std::move(tracks), "", [this](const std::string& taken) {
            taken_.push_back(taken);
            return taken.substr(0, taken.size() - 4) + " (2).mkv";
        });
    }

    std::unique_ptr<Source> Scripted(MediaType type, int pieces, Then then,
                                     const std::string& diagnosis = "") {
        return std::make_unique<ScriptedSource>(type, pieces, then, gate_, diagnosis);
    }

    Testing::TempDir dir_;
    std::shared_ptr<Gate> gate_ = std::make_shared<Gate>();
    std::vector<std::string> taken_;  // names NextName was asked about
};

TEST_F(RecordingTest, TheTestSignalsRecordASecondIntoOneFileWithBothStreams) {
    auto recording = Prepare(OpenTestPattern(), OpenTestTone());
    recording->Run(1.0, [](double) { return true; });
    ASSERT_THAT(recording->Files(), ElementsAre(PathOf("take.mkv")));
    EXPECT_THAT(Entries(dir_.Path()), ElementsAre("take.mkv"));
    const Testing::MediaSummary summary = Testing::Summarise(PathOf("take.mkv"));
    ASSERT_EQ(summary.streams.size(), 2u);
    for (const Testing::StreamSummary& stream : summary.streams) {
        EXPECT_NEAR(stream.endSeconds - stream.startSeconds, 1.0, 0.05) << stream.codec;
    }
    EXPECT_EQ(summary.streams[0].codec, "h264");
    EXPECT_EQ(summary.streams[1].codec, "flac");
    EXPECT_NEAR(summary.durationSeconds.value_or(0.0), 1.0, 0.05);
    EXPECT_GT(recording->Counters().framesWritten, 20);
}

TEST_F(RecordingTest, AStopEndsTheRunWithinASecondThoughASourceBlocksAndTheFileIsKept) {
    // The sound hangs in its device after two seconds, once the recording has begun.
    auto recording = Prepare(OpenTestPattern(), Scripted(MediaType::Audio, 100, Then::Blocks));
    std::optional<Clock::time_point> stopped;
    recording->Run(std::nullopt, [&](double seconds) {
        if (seconds >= 1.0 && !stopped) {
            stopped = Clock::now();
        }
        return !stopped;
    });
    ASSERT_TRUE(stopped);
    EXPECT_LT(MillisecondsSince(*stopped), 1000);
    ASSERT_THAT(recording->Files(), ElementsAre(PathOf("take.mkv")));
    EXPECT_EQ(StreamsIn(PathOf("take.mkv")), 2);
}

TEST_F(RecordingTest, ASourceThatFailsEndsTheRunWithItsCauseAndTheFileIsKept) {
    auto camera = Prepare(Scripted(MediaType::Video, 100, Then::Throws), OpenTestTone(), "a.mkv");
    EXPECT_EQ(MessageOf(*camera, 5.0), "the scripted camera broke");
    ASSERT_THAT(camera->Files(), ElementsAre(PathOf("a.mkv")));
    EXPECT_EQ(StreamsIn(PathOf("a.mkv")), 2);

    // A source that can tell why is believed over its exception.
    auto mic =
        Prepare(OpenTestPattern(),
                Scripted(MediaType::Audio, 200, Then::Throws, "the mic was unplugged"), "b.mkv");
    EXPECT_EQ(MessageOf(*mic, 5.0), "the mic was unplugged");
    ASSERT_THAT(mic->Files(), ElementsAre(PathOf("b.mkv")));
    EXPECT_EQ(StreamsIn(PathOf("b.mkv")), 2);
}

TEST_F(RecordingTest, ASourceSilentFromTheStartFailsAfterTenSecondsAndLeavesNothing) {
    auto recording = Prepare(Scripted(MediaType::Video, 0, Then::Blocks), OpenTestTone());
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(MessageOf(*recording, 30.0), "the scripted camera gave nothing within 10 s");
    EXPECT_LT(MillisecondsSince(start), 12'000);
    EXPECT_THAT(recording->Files(), ElementsAre());
    EXPECT_THAT(Entries(dir_.Path()), ElementsAre());
}

TEST_F(RecordingTest, ANameTakenMeanwhileGoesToTheNextNameAndTheOtherFileStaysAsItWas) {
    auto recording = Prepare(OpenTestPattern(), OpenTestTone());
    Testing::WriteFile(PathOf("take.mkv"), "someone else's");
    recording->Run(1.0, [](double) { return true; });
    ASSERT_THAT(recording->Files(), ElementsAre(PathOf("take (2).mkv")));
    EXPECT_THAT(taken_, ElementsAre(PathOf("take.mkv")));
    EXPECT_EQ(Testing::ReadFile(PathOf("take.mkv")), "someone else's");
    EXPECT_EQ(StreamsIn(PathOf("take (2).mkv")), 2);
}

TEST_F(RecordingTest, TheFileTakesItsNameOnlyOnceItOpensWhileTheRecordingRuns) {
    auto recording = Prepare(OpenTestPattern(), OpenTestTone());
    int earlyLooks = 0;
    int streamsMidway = -1;
    recording->Run(std::nullopt, [&](double seconds) {
        if (seconds < 0.3) {
            EXPECT_THAT(Entries(dir_.Path()), ElementsAre()) << seconds;
            ++earlyLooks;
        }
        if (seconds >= 1.5) {
            streamsMidway = StreamsIn(PathOf("take.mkv"));
        }
        return seconds < 1.5;
    });
    EXPECT_GE(earlyLooks, 2);
    EXPECT_EQ(streamsMidway, 2);
}

}  // namespace
}  // namespace Vantor::Lumo::Recorder
