#include "Recorder/Sources/PulseSource.h"

#include <stdexcept>

#include "Recorder/Ffmpeg.h"
#include "Recorder/Sources/DeviceInput.h"

namespace Vantor::Lumo::Recorder {

namespace {

constexpr int kSampleRate = 48000;
constexpr int kChannels = 2;
// 20 ms of s16 stereo: the sound server hands over small pieces instead of 2 s bursts.
constexpr int kFragmentBytes = kSampleRate / 50 * kChannels * 2;

class PulseSource final : public Source {
public:
    explicit PulseSource(const std::string& name) : name_(name), input_(Open(name)) {}

    const std::string& Description() const override { return input_->Description(); }
    const AVCodecParameters& Parameters() const override { return input_->Parameters(); }
    int FramesPerSecond() const override { return 0; }
    std::int64_t Read(AVPacket& packet) override { return input_->Read(packet); }
    // The pulse input answers any loss with "Generic error in an external library".
    std::string Diagnose() override {
        return "the PulseAudio source '" + name_ +
               "' closed (its sound server stopped or "
               "removed it)";
    }

private:
    static std::unique_ptr<DeviceInput> Open(const std::string& name) {
        AVDictionary* options = nullptr;
        av_dict_set_int(&options, "sample_rate", kSampleRate, 0);
        av_dict_set_int(&options, "channels", kChannels, 0);
        av_dict_set_int(&options, "fragment_size", kFragmentBytes, 0);
        auto input = std::make_unique<DeviceInput>("pulse", name, options,
                                                   "the PulseAudio source '" + name + "'", 0);
        const AVCodecParameters& parameters = input->Parameters();
        if (parameters.codec_id != AV_CODEC_ID_PCM_S16LE || parameters.sample_rate != kSampleRate ||
            parameters.ch_layout.nb_channels != kChannels) {
            throw std::runtime_error(input->Description() + " does not give 48 kHz stereo s16");
        }
        return input;
    }

    std::string name_;
    std::unique_ptr<DeviceInput> input_;
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
