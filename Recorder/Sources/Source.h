#pragma once

#include <cstdint>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace Vantor::Lumo::Recorder {

// Where a recording's pictures or sound come from: a capture device or a generated test
// signal. Every kind is read the same way, on a thread of its own: Read blocks until the next
// piece is there, as a device does, and stamps it with its capture time.
class Source {
public:
    virtual ~Source() = default;

    // How messages name it: "the X11 display ':1'", "the PulseAudio source 'default'".
    virtual const std::string& Description() const = 0;
    // A picture source gives raw pictures (AV_CODEC_ID_RAWVIDEO) of this size and pixel format;
    // a sound source gives 48 kHz stereo s16 (AV_CODEC_ID_PCM_S16LE).
    virtual const AVCodecParameters& Parameters() const = 0;
    // Pictures a second of a picture source; 0 for sound.
    virtual int FramesPerSecond() const = 0;
    // Fills `packet` with the next picture or piece of sound and answers when it was captured,
    // in microseconds of av_gettime()'s clock. Throws std::runtime_error naming the source
    // when it can deliver no more.
    virtual std::int64_t Read(AVPacket& packet) = 0;
    // Once Read has failed: why, in words a user knows ("the X display :1 closed"); empty when
    // the source can not tell. May take a moment, never long.
    virtual std::string Diagnose() { return {}; }
};

}  // namespace Vantor::Lumo::Recorder
