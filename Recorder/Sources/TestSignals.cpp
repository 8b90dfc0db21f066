#include "Recorder/Sources/TestSignals.h"

#include <cmath>
#include <cstdint>
#include <string>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/time.h>
}

#include "Recorder/Ffmpeg.h"

namespace Vantor::Lumo::Recorder {

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr int kFramesPerSecond = 25;
constexpr int kSquare = 40;
constexpr int kCell = 32;
constexpr int kSampleRate = 48000;
constexpr int kChannels = 2;
constexpr int kPieceSamples = kSampleRate / 50;
constexpr double kToneHz = 440.0;
constexpr double kToneAmplitude = 0.25;  // -12 dBFS: audible, far from clipping

// Left and right and back again, 8 pixels a picture.
int SquareLeft(std::int64_t frameNumber, int width) {
    const int travel = width - kSquare;
    const int step = static_cast<int>((frameNumber * 8) % (2 * travel));
    return step < travel ? step : 2 * travel - step;
}

void FillTestPattern(std::uint8_t* const planes[4], const int strides[4], std::int64_t number) {
    const int shift = static_cast<int>((number * 4) % (2 * kCell));
    const int left = SquareLeft(number, kWidth);
    const int top = (kHeight - kSquare) / 2;
    const auto inSquare = [&](int x, int y) {
        return x >= left && x < left + kSquare && y >= top && y < top + kSquare;
    };
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const bool darkCell = (((x + shift) / kCell) + (y / kCell)) % 2 == 0;
            planes[0][y * strides[0] + x] = inSquare(x, y) ? 235 : darkCell ? 60 : 160;
        }
    }
    // Colour drifts across the checkerboard; the square stays white.
    for (int y = 0; y < kHeight / 2; ++y) {
        for (int x = 0; x < kWidth / 2; ++x) {
            const bool white = inSquare(2 * x, 2 * y);
            planes[1][y * strides[1] + x] =
                white ? 128 : static_cast<std::uint8_t>(64 + (x * 2 + number) % 128);
            planes[2][y * strides[2] + x] =
                white ? 128 : static_cast<std::uint8_t>(64 + (y * 2) % 128);
        }
    }
}

// Pieces due one after another from the first read on, each delivered when due.
class PacedSignal : public Source {
public:
    PacedSignal(std::string description, std::int64_t piecesPerSecond)
        : description_(std::move(description)), piecesPerSecond_(piecesPerSecond) {
        parameters_.reset(avcodec_parameters_alloc());
        if (!parameters_) {
            throw std::bad_alloc();
        }
    }

    const std::string& Description() const override { return description_; }
    const AVCodecParameters& Parameters() const override { return *parameters_; }

    std::int64_t Read(AVPacket& packet) override {
        if (!start_) {
            start_ = av_gettime();
        }
        const std::int64_t due = start_ + next_ * 1'000'000 / piecesPerSecond_;
        const std::int64_t wait = due - av_gettime();
        if (wait > 0) {
            av_usleep(static_cast<unsigned>(wait));
        }
        Fill(packet, next_++);
        return due;
    }

protected:
    virtual void Fill(AVPacket& packet, std::int64_t number) = 0;

    struct FreeParameters {
        void operator()(AVCodecParameters* parameters) const {
            avcodec_parameters_free(&parameters);
        }
    };
    std::unique_ptr<AVCodecParameters, FreeParameters> parameters_;

private:
    std::string description_;
    std::int64_t piecesPerSecond_;
    std::int64_t start_ = 0;
    std::int64_t next_ = 0;
};

class TestPattern final : public PacedSignal {
public:
    TestPattern() : PacedSignal("the test pattern", kFramesPerSecond) {
        parameters_->codec_type = AVMEDIA_TYPE_VIDEO;
        parameters_->codec_id = AV_CODEC_ID_RAWVIDEO;
        parameters_->format = AV_PIX_FMT_YUV420P;
        parameters_->width = kWidth;
        parameters_->height = kHeight;
    }
    int FramesPerSecond() const override { return kFramesPerSecond; }

private:
    void Fill(AVPacket& packet, std::int64_t number) override {
        const int size = av_image_get_buffer_size(AV_PIX_FMT_YUV420P, kWidth, kHeight, 1);
        CheckFfmpeg(av_new_packet(&packet, size), "can not allocate a picture");
        std::uint8_t* planes[4] = {};
        int strides[4] = {};
        CheckFfmpeg(av_image_fill_arrays(planes, strides, packet.data, AV_PIX_FMT_YUV420P, kWidth,
                                         kHeight, 1),
                    "can not lay out a picture");
        FillTestPattern(planes, strides, number);
    }
};

class TestTone final : public PacedSignal {
public:
    TestTone() : PacedSignal("the test tone", kSampleRate / kPieceSamples) {
        parameters_->codec_type = AVMEDIA_TYPE_AUDIO;
        parameters_->codec_id = AV_CODEC_ID_PCM_S16LE;
        parameters_->format = AV_SAMPLE_FMT_S16;
        parameters_->sample_rate = kSampleRate;
        av_channel_layout_default(&parameters_->ch_layout, kChannels);
    }
    int FramesPerSecond() const override { return 0; }

private:
    void Fill(AVPacket& packet, std::int64_t number) override {
        CheckFfmpeg(av_new_packet(&packet, kPieceSamples * kChannels * 2),
                    "can not allocate sound");
        auto* samples = reinterpret_cast<std::int16_t*>(packet.data);
        for (int i = 0; i < kPieceSamples; ++i) {
            const double t = static_cast<double>(number * kPieceSamples + i) / kSampleRate;
            const auto value = static_cast<std::int16_t>(
                std::lround(kToneAmplitude * 32767.0 * std::sin(2.0 * M_PI * kToneHz * t)));
            samples[2 * i] = samples[2 * i + 1] = value;
        }
    }
};

}  // namespace

std::unique_ptr<Source> OpenTestPattern() {
    return std::make_unique<TestPattern>();
}

std::unique_ptr<Source> OpenTestTone() {
    return std::make_unique<TestTone>();
}

}  // namespace Vantor::Lumo::Recorder
