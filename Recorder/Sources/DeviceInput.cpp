#include "Recorder/Sources/DeviceInput.h"

#include <dlfcn.h>

#include <cstdlib>
#include <stdexcept>
#include <utility>

extern "C" {
#include <libavdevice/version.h>
#include <libavutil/time.h>
}

#include <glog/logging.h>

#include "Recorder/Ffmpeg.h"

namespace Vantor::Lumo::Recorder {

namespace {

// Timestamps further than this from the wall clock come from another clock.
constexpr std::int64_t kOtherClock = 1'000'000;
// A device that keeps answering "try again" this long has lost its server.
constexpr std::int64_t kRetryLimit = 1'000'000;
constexpr unsigned kRetryPause = 5'000;

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

AVFormatContext* OpenInput(const char* format, const std::string& url, AVDictionary* options,
                           const std::string& what) {
    try {
        RegisterCaptureDevices();
    } catch (...) {
        av_dict_free(&options);
        throw;
    }
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

DeviceInput::DeviceInput(const char* format, const std::string& url, AVDictionary* options,
                         std::string description, int fps)
    : context_(OpenInput(format, url, options, description)),
      description_(std::move(description)),
      fps_(fps) {}

DeviceInput::~DeviceInput() {
    avformat_close_input(&context_);
}

const AVCodecParameters& DeviceInput::Parameters() const {
    return *context_->streams[0]->codecpar;
}

std::int64_t DeviceInput::Read(AVPacket& packet) {
    int result = av_read_frame(context_, &packet);
    // A screen device answers "try again" when a reply is missing; a lost server never sends it.
    for (const std::int64_t first = av_gettime();
         result == AVERROR(EAGAIN) && av_gettime() - first < kRetryLimit;) {
        av_usleep(kRetryPause);
        result = av_read_frame(context_, &packet);
    }
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

}  // namespace Vantor::Lumo::Recorder
