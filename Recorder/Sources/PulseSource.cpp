#include "Recorder/Sources/PulseSource.h"

#include <pulse/error.h>
#include <pulse/simple.h>

#include <cstring>
#include <stdexcept>

extern "C" {
#include <libavutil/time.h>
}

#include "Recorder/Ffmpeg.h"

namespace Vantor::Lumo::Recorder {

namespace {

constexpr int kSampleRate = 48000;
constexpr int kChannels = 2;
constexpr int kBytesPerSample = kChannels * 2;
// 20 ms of sound: the sound server hands over small pieces instead of 2 s bursts.
constexpr int kPieceBytes = kSampleRate / 50 * kBytesPerSample;

// Each piece is stamped here, with the clock of the moment less what the sound server still
// holds of the source: the capture time of its first sample, never smoothed. A smoothing filter
// (as FFmpeg's pulse input has) takes seconds to find the sound again after it paused.
class PulseSource final : public Source {
public:
    explicit PulseSource(const std::string& name)
        : name_(name), description_("the PulseAudio source '" + name + "'") {
        const pa_sample_spec spec{PA_SAMPLE_S16LE, kSampleRate, kChannels};
        pa_buffer_attr buffer{};
        buffer.maxlength = static_cast<std::uint32_t>(-1);
        buffer.fragsize = kPieceBytes;
        int error = 0;
        stream_ = pa_simple_new(nullptr, "lumo", PA_STREAM_RECORD,
                                name == "default" ? nullptr : name.c_str(), "recording", &spec,
                                nullptr, &buffer, &error);
        if (!stream_) {
            throw std::runtime_error("can not open " + description_ + ": " + pa_strerror(error));
        }
        parameters_.reset(avcodec_parameters_alloc());
        if (!parameters_) {
            pa_simple_free(stream_);
            throw std::bad_alloc();
        }
        parameters_->codec_type = AVMEDIA_TYPE_AUDIO;
        parameters_->codec_id = AV_CODEC_ID_PCM_S16LE;
        parameters_->format = AV_SAMPLE_FMT_S16;
        parameters_->sample_rate = kSampleRate;
        av_channel_layout_default(&parameters_->ch_layout, kChannels);
    }
    ~PulseSource() override { pa_simple_free(stream_); }

    const std::string& Description() const override { return description_; }
    const AVCodecParameters& Parameters() const override { return *parameters_; }
    int FramesPerSecond() const override { return 0; }

    std::int64_t Read(AVPacket& packet) override {
        CheckFfmpeg(av_new_packet(&packet, kPieceBytes), "can not make room for sound");
        int error = 0;
        if (pa_simple_read(stream_, packet.data, kPieceBytes, &error) < 0) {
            av_packet_unref(&packet);
            throw std::runtime_error("can not read " + description_ + ": " + pa_strerror(error));
        }
        const std::int64_t now = av_gettime();
        // What was captured but not yet read: the piece ended that long ago.
        const pa_usec_t held = pa_simple_get_latency(stream_, &error);
        if (held == static_cast<pa_usec_t>(-1)) {
            av_packet_unref(&packet);
            throw std::runtime_error("can not time " + description_ + ": " + pa_strerror(error));
        }
        constexpr std::int64_t kPieceMicroseconds =
            1'000'000LL * kPieceBytes / kBytesPerSample / kSampleRate;
        return now - static_cast<std::int64_t>(held) - kPieceMicroseconds;
    }

    // A read fails alike whether the server stopped or the source was removed.
    std::string Diagnose() override {
        return description_ + " closed (its sound server stopped or removed it)";
    }

private:
    std::string name_;
    std::string description_;
    pa_simple* stream_ = nullptr;
    ParametersPtr parameters_;
};

}  // namespace

std::unique_ptr<Source> OpenPulseSource(const std::string& name) {
    auto source = std::make_unique<PulseSource>(name);
    const PacketPtr first(av_packet_alloc());
    if (!first) {
        throw std::bad_alloc();
    }
    source->Read(*first);
    return source;
}

}  // namespace Vantor::Lumo::Recorder
