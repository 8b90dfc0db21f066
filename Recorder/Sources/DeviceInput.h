#pragma once

// Capture devices through libavdevice: the base of the X11 screen and PulseAudio sources.

#include <cstdint>
#include <optional>
#include <string>

extern "C" {
#include <libavformat/avformat.h>
}

#include "Recorder/Sources/Source.h"

namespace Vantor::Lumo::Recorder {

// One opened libavdevice input with a single stream. Reading blocks until the device has the
// next packet.
class DeviceInput : public Source {
public:
    // Opens `url` with the input format `format` ("x11grab", "pulse") and takes `options`
    // (freed here whatever happens). Throws std::runtime_error naming `description` when
    // libavdevice, the format or the device is missing or refuses.
    DeviceInput(const char* format, const std::string& url, AVDictionary* options,
                std::string description, int fps);
    ~DeviceInput() override;
    DeviceInput(const DeviceInput&) = delete;
    DeviceInput& operator=(const DeviceInput&) = delete;

    const std::string& Description() const override { return description_; }
    const AVCodecParameters& Parameters() const override;
    int FramesPerSecond() const override { return fps_; }
    // The capture time is the device's own stamp, moved onto av_gettime()'s clock should the
    // device stamp with another.
    std::int64_t Read(AVPacket& packet) override;

private:
    AVFormatContext* context_ = nullptr;
    std::string description_;
    int fps_;
    std::optional<std::int64_t> clockOffset_;  // added to a packet's time to reach the wall clock
};

}  // namespace Vantor::Lumo::Recorder
