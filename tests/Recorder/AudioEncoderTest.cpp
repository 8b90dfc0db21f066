// The sound's place on the time line: pieces land where they were captured, with silence for
// what was lost and without what came twice, and the FLAC stream runs without gaps.

#include <cstdint>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "Recorder/Encode/AudioEncoder.h"
#include "Recorder/Timeline/RecordingClock.h"

namespace Vantor::Lumo::Recorder {
namespace {

constexpr std::int64_t kNever = RecordingClock::kNever;
constexpr int kChannels = 2;

// Runs of equal samples on the left channel: {value, how many}.
using Runs = std::vector<std::pair<int, std::int64_t>>;

class AudioEncoderTest : public ::testing::Test {
protected:
    // Adds `count` samples of `value` on both channels, captured `ms` after the beginning.
    void Add(int value, std::int64_t count, std::int64_t ms, std::int64_t endMs = -1) {
        PacketPtr piece(av_packet_alloc());
        ASSERT_GE(av_new_packet(piece.get(), static_cast<int>(count * kChannels * 2)), 0);
        auto* samples = reinterpret_cast<std::int16_t*>(piece->data);
        std::fill(samples, samples + count * kChannels, static_cast<std::int16_t>(value));
        encoder_.Add(piece->data, piece->size / AudioEncoder::kBytesPerSample, ms * 1000,
                     endMs < 0 ? kNever : endMs * 1000, sink_);
    }

    // Finishes the stream at `ms`, checks that its packets follow each other without gaps,
    // and answers what it holds.
    Runs Finish(std::int64_t ms) {
        encoder_.Finish(ms * 1000, sink_);
        std::int64_t end = 0;
        for (const PacketPtr& packet : packets_) {
            EXPECT_EQ(packet->pts, end) << "a gap or an overlap in the timestamps";
            end = packet->pts + packet->duration;
        }
        Runs runs;
        for (int sample : Decode()) {
            if (runs.empty() || runs.back().first != sample) {
                runs.emplace_back(sample, 0);
            }
            ++runs.back().second;
        }
        std::int64_t decoded = 0;
        for (const auto& run : runs) {
            decoded += run.second;
        }
        EXPECT_EQ(end, decoded) << "the timestamps disagree with the samples";
        return runs;
    }

private:
    std::vector<int> Decode() {
        const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_FLAC);
        CodecContextPtr decoder(avcodec_alloc_context3(codec));
        AVCodecParameters* parameters = avcodec_parameters_alloc();
        avcodec_parameters_from_context(parameters, &encoder_.Context());
        avcodec_parameters_to_context(decoder.get(), parameters);
        avcodec_parameters_free(&parameters);
        EXPECT_GE(avcodec_open2(decoder.get(), codec, nullptr), 0);
        FramePtr frame(av_frame_alloc());
        std::vector<int> left;
        const auto receive = [&] {
            while (avcodec_receive_frame(decoder.get(), frame.get()) == 0) {
                const auto format = static_cast<AVSampleFormat>(frame->format);
                EXPECT_EQ(av_get_packed_sample_fmt(format), AV_SAMPLE_FMT_S16);
                const int step = av_sample_fmt_is_planar(format) ? 1 : kChannels;
                const auto* samples = reinterpret_cast<const std::int16_t*>(frame->data[0]);
                for (int i = 0; i < frame->nb_samples; ++i) {
                    left.push_back(samples[i * step]);
                }
            }
        };
        for (const PacketPtr& packet : packets_) {
            if (packet->size > 0) {  // the last one may carry only the final stream header
                EXPECT_GE(avcodec_send_packet(decoder.get(), packet.get()), 0);
                receive();
            }
        }
        avcodec_send_packet(decoder.get(), nullptr);
        receive();
        return left;
    }

    AudioEncoder encoder_{false};

protected:
    std::vector<PacketPtr> packets_;

private:
    const PacketSink sink_ = [this](AVPacket& packet) {
        packets_.emplace_back(av_packet_clone(&packet));
    };
};

TEST_F(AudioEncoderTest, AGapOfMoreThanAFifthOfASecondIsFilledWithSilenceAtItsTruePlace) {
    Add(1000, 960, 30);   // the recording began 30 ms before the first sound
    Add(2000, 960, 58);   // 8 ms late: stretched a little towards its place, no gap
    Add(3000, 960, 330);  // 250 ms late: sound was lost
    EXPECT_EQ(Finish(350), (Runs{{0, 1440}, {1000, 960}, {2000, 964}, {0, 12476}, {3000, 960}}));
}

// A card 2000 ppm slow, as the stamps tell: followed by stretching, never by silence.
TEST_F(AudioEncoderTest, ASteadilyDriftingSourceIsStretchedWithoutSilenceAndKeepsItsPlace) {
    for (int n = 0; n < 500; ++n) {
        Add(1000, 960, n * 2004 / 100);
    }
    const Runs runs = Finish(500 * 2004 / 100);
    ASSERT_FALSE(runs.empty());
    EXPECT_EQ(runs[0].first, 1000);
    // Within three milliseconds of its place at the end; only the end is filled up.
    EXPECT_NEAR(runs[0].second, 500 * 2004 * 48 / 100, 144) << ::testing::PrintToString(runs);
    EXPECT_LE(runs.size(), 2u) << "silence or a cut in a steady source";
}

TEST_F(AudioEncoderTest, SoundCapturedTwiceOrBeforeTheBeginningIsLeftOut) {
    Add(500, 960, -10);     // half of it before the beginning
    Add(1000, 19200, 10);   // 400 ms
    Add(2000, 19200, 160);  // its first 250 ms were recorded already
    Add(3000, 960, 550);    // 10 ms early: squeezed a little, no cut
    EXPECT_EQ(Finish(580), (Runs{{500, 480}, {1000, 19200}, {2000, 7200}, {3000, 956}, {0, 4}}));
}

TEST_F(AudioEncoderTest, TheSoundIsFilledUpToTheEnd) {
    Add(1000, 960, 0);
    EXPECT_EQ(Finish(100), (Runs{{1000, 960}, {0, 3840}}));
}

TEST_F(AudioEncoderTest, NoSoundAndNoLengthGiveNoPacket) {
    Add(1000, 960, 0, 0);
    EXPECT_EQ(Finish(0), Runs{});
    EXPECT_TRUE(packets_.empty());
}

TEST_F(AudioEncoderTest, TheSoundIsCutAtAnEndKnownWhenItArrives) {
    Add(1000, 9600, 0, 50);
    Add(2000, 960, 200, 50);
    EXPECT_EQ(Finish(50), (Runs{{1000, 2400}}));
}

TEST_F(AudioEncoderTest, TheSoundIsCutAtAnEndSetAfterItArrived) {
    Add(1000, 960, 0);
    Add(2000, 960, 20);
    EXPECT_EQ(Finish(30), (Runs{{1000, 960}, {2000, 480}}));
}

}  // namespace
}  // namespace Vantor::Lumo::Recorder
