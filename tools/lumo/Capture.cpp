#include "tools/lumo/Capture.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <utility>

extern "C" {
#include <libavdevice/version.h>
#include <libavutil/time.h>
}

#include <glog/logging.h>

#include "tools/lumo/Ffmpeg.h"

namespace Vantor::Lumo::Tool {

namespace {

constexpr int kSampleRate = 48000;
constexpr int kChannels = 2;
// 20 ms of s16 stereo: the sound server hands over small pieces instead of 2 s bursts.
constexpr int kFragmentBytes = kSampleRate / 50 * kChannels * 2;
// Timestamps further than this from the wall clock come from another clock.
constexpr std::int64_t kOtherClock = 1'000'000;

// libavdevice brings X11, PulseAudio, SDL, OpenAL and more: about ninety libraries that every
// other command would load for nothing. Only opening a device loads it, once; it stays loaded,
// since FFmpeg now knows its devices.
void RegisterCaptureDevices() {
    static const std::string failure = [] {
        const std::string name = "libavdevice.so." + std::to_string(LIBAVDEVICE_VERSION_MAJOR);
        void* library = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!library) {
            return std::string(dlerror());
        }
        using RegisterAll = void (*)();
        const auto registerAll =
            reinterpret_cast<RegisterAll>(dlsym(library, "avdevice_register_all"));
        if (!registerAll) {
            return std::string(dlerror());
        }
        registerAll();
        return std::string();
    }();
    if (!failure.empty()) {
        throw std::runtime_error("can not load FFmpeg's capture devices: " + failure);
    }
}

struct FreeDictionary {
    void operator()(AVDictionary* dictionary) const { av_dict_free(&dictionary); }
};

AVFormatContext* OpenInput(const char* format, const std::string& url, AVDictionary* options,
                           const std::string& what) {
    const AVInputFormat* input = av_find_input_format(format);
    if (!input) {
        av_dict_free(&options);
        throw std::runtime_error(std::string("this FFmpeg has no '") + format + "' input");
    }
    AVFormatContext* context = nullptr;
    const int result = avformat_open_input(&context, url.c_str(), input, &options);
    av_dict_free(&options);
    if (result < 0) {
        throw std::runtime_error("can not open " + what + ": " + FfmpegErrorText(result));
    }
    if (context->nb_streams != 1) {
        avformat_close_input(&context);
        throw std::runtime_error(what + " gives no single stream");
    }
    return context;
}

}  // namespace

std::optional<Region> ParseRegion(const std::string& text) {
    Region region;
    int consumed = 0;
    if (std::sscanf(text.c_str(), "%dx%d+%d+%d%n", &region.width, &region.height, &region.x,
                    &region.y, &consumed) != 4 ||
        consumed != static_cast<int>(text.size()) || text.find_first_of(" -") != text.npos ||
        region.width < 2 || region.height < 2 || region.x < 0 || region.y < 0) {
        return std::nullopt;
    }
    return region;
}

CaptureDevice CaptureDevice::OpenScreen(const ScreenSource& source) {
    RegisterCaptureDevices();
    AVDictionary* options = nullptr;
    av_dict_set_int(&options, "framerate", source.fps, 0);
    if (source.region) {
        // The encoder takes even sizes only; the odd last row or column is left out.
        const std::string size = std::to_string(source.region->width & ~1) + "x" +
                                 std::to_string(source.region->height & ~1);
        av_dict_set(&options, "video_size", size.c_str(), 0);
        av_dict_set_int(&options, "grab_x", source.region->x, 0);
        av_dict_set_int(&options, "grab_y", source.region->y, 0);
    }
    const std::string what = "the X11 display '" + source.display + "'";
    return CaptureDevice(OpenInput("x11grab", source.display, options, what), what);
}

CaptureDevice CaptureDevice::OpenMic(const std::string& source) {
    RegisterCaptureDevices();
    AVDictionary* options = nullptr;
    av_dict_set_int(&options, "sample_rate", kSampleRate, 0);
    av_dict_set_int(&options, "channels", kChannels, 0);
    av_dict_set_int(&options, "fragment_size", kFragmentBytes, 0);
    const std::string what = "the PulseAudio source '" + source + "'";
    CaptureDevice device(OpenInput("pulse", source, options, what), what);
    const AVCodecParameters& parameters = device.Parameters();
    if (parameters.codec_id != AV_CODEC_ID_PCM_S16LE || parameters.sample_rate != kSampleRate ||
        parameters.ch_layout.nb_channels != kChannels) {
        throw std::runtime_error(what + " does not give 48 kHz stereo s16");
    }
    return device;
}

CaptureDevice::CaptureDevice(AVFormatContext* context, std::string description)
    : context_(context), description_(std::move(description)) {}

CaptureDevice::CaptureDevice(CaptureDevice&& other) noexcept
    : context_(std::exchange(other.context_, nullptr)),
      description_(std::move(other.description_)),
      clockOffset_(other.clockOffset_) {}

CaptureDevice& CaptureDevice::operator=(CaptureDevice&& other) noexcept {
    if (this != &other) {
        avformat_close_input(&context_);
        context_ = std::exchange(other.context_, nullptr);
        description_ = std::move(other.description_);
        clockOffset_ = other.clockOffset_;
    }
    return *this;
}

CaptureDevice::~CaptureDevice() {
    avformat_close_input(&context_);
}

const AVCodecParameters& CaptureDevice::Parameters() const {
    return *context_->streams[0]->codecpar;
}

std::int64_t CaptureDevice::Read(AVPacket& packet) {
    const int result = av_read_frame(context_, &packet);
    const std::int64_t now = av_gettime();
    if (result < 0) {
        throw std::runtime_error("capture from " + description_ +
                                 " stopped: " + FfmpegErrorText(result));
    }
    if (packet.pts == AV_NOPTS_VALUE) {
        return now;
    }
    const std::int64_t time =
        av_rescale_q(packet.pts, context_->streams[0]->time_base, AV_TIME_BASE_Q);
    // Both devices stamp with the wall clock; should one ever use another clock, its offset is
    // measured once so that both streams still share one time line.
    if (!clockOffset_) {
        clockOffset_ = std::llabs(now - time) > kOtherClock ? now - time : 0;
        VLOG(1) << "lumo: " << description_ << " stamps " << now - time
                << " us before the wall clock; corrected by " << *clockOffset_;
    }
    return time + *clockOffset_;
}

ScreenSource ProbeScreen(const ScreenSource& source) {
    if (source.region) {
        // Said plainly here, since the device only answers "Invalid argument".
        const CaptureDevice whole = CaptureDevice::OpenScreen({source.display, {}, source.fps});
        const Region& region = *source.region;
        const AVCodecParameters& screen = whole.Parameters();
        if (region.x + region.width > screen.width || region.y + region.height > screen.height) {
            throw std::runtime_error(
                "the region " + std::to_string(region.width) + "x" + std::to_string(region.height) +
                "+" + std::to_string(region.x) + "+" + std::to_string(region.y) +
                " does not fit in " + whole.Description() + " (" + std::to_string(screen.width) +
                "x" + std::to_string(screen.height) + ")");
        }
    }
    const CaptureDevice device = CaptureDevice::OpenScreen(source);
    ScreenSource exact = source;
    Region region = source.region.value_or(Region{});
    region.width = device.Parameters().width & ~1;
    region.height = device.Parameters().height & ~1;
    if (region.width < 2 || region.height < 2) {
        throw std::runtime_error(device.Description() + " is too small to record");
    }
    exact.region = region;
    return exact;
}

void ProbeMic(const std::string& source) {
    CaptureDevice device = CaptureDevice::OpenMic(source);
    const PacketPtr packet(av_packet_alloc());
    if (!packet) {
        throw std::bad_alloc();
    }
    device.Read(*packet);
}

}  // namespace Vantor::Lumo::Tool
