#pragma once

// The recorder's real sources: an X11 screen and a PulseAudio source, through libavdevice.

#include <cstdint>
#include <optional>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace Vantor::Lumo::Tool {

// A rectangle of the screen, as "WxH+X+Y" writes it.
struct Region {
    int width = 0;
    int height = 0;
    int x = 0;
    int y = 0;
};

// "1280x720+0+0" -> its region; nothing for any other text or an empty rectangle.
std::optional<Region> ParseRegion(const std::string& text);

struct ScreenSource {
    std::string display;           // ":0"
    std::optional<Region> region;  // the whole screen when absent
    int fps = 30;
};

// One opened capture device. Reading blocks until the device has the next packet: a picture
// for the screen, a few tens of milliseconds of 48 kHz stereo s16 for the microphone.
class CaptureDevice {
public:
    // Throws std::runtime_error naming the display when it can not be opened or the region
    // lies outside it.
    static CaptureDevice OpenScreen(const ScreenSource& source);
    // Throws std::runtime_error naming the source when the sound server or the source is
    // missing.
    static CaptureDevice OpenMic(const std::string& source);

    CaptureDevice(CaptureDevice&& other) noexcept;
    CaptureDevice& operator=(CaptureDevice&& other) noexcept;
    ~CaptureDevice();

    // Picture size and pixel format, or sample rate, layout and sample format.
    const AVCodecParameters& Parameters() const;
    // The next packet and its capture time, in microseconds of av_gettime()'s wall clock.
    // Throws std::runtime_error when the device fails.
    std::int64_t Read(AVPacket& packet);
    const std::string& Description() const { return description_; }

private:
    CaptureDevice(AVFormatContext* context, std::string description);

    AVFormatContext* context_ = nullptr;
    std::string description_;
    std::optional<std::int64_t> clockOffset_;  // added to a packet's time to reach the wall clock
};

// Opens the display once, to check it and learn its size: the answer names the exact
// rectangle to capture, with even sides. Throws like CaptureDevice::OpenScreen.
ScreenSource ProbeScreen(const ScreenSource& source);

// Opens the sound source once, to check it, and waits for its first sound: a sound server
// that has only just begun to serve the source takes up to a second or two for it, which a
// recording should not spend on its own clock. Throws like CaptureDevice::OpenMic, or when
// the source fails before it delivers.
void ProbeMic(const std::string& source);

}  // namespace Vantor::Lumo::Tool
