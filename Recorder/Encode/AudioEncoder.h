#pragma once

#include <cstdint>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/audio_fifo.h>
}

#include "Recorder/Encode/EncodeFrame.h"
#include "Recorder/Ffmpeg.h"

namespace Vantor::Lumo::Recorder {

// Captured sound (48 kHz stereo s16) to FLAC, laid on the recording's time line: the stream
// starts at 0 and runs without gaps, its timestamps counted in samples. The capture times of
// the pieces keep it in step with the screen: a piece off its place by less than 0.2 s (a
// drifting sound card, the stamps settling) is stretched or squeezed by up to 0.5% towards it;
// farther off (lost pieces, sound that came twice), silence is put in or samples are left out.
class AudioEncoder {
public:
    // Throws std::runtime_error when this libavcodec has no FLAC encoder.
    explicit AudioEncoder(bool globalHeader);
    ~AudioEncoder();
    AudioEncoder(const AudioEncoder&) = delete;
    AudioEncoder& operator=(const AudioEncoder&) = delete;

    static constexpr int kSampleRate = 48000;
    static constexpr int kBytesPerSample = 4;  // two channels of s16

    const AVCodecContext& Context() const { return *encoder_; }
    // Adds `count` samples, the first of them captured `time` microseconds after the recording
    // began, keeping only those before `end` microseconds.
    void Add(const std::uint8_t* samples, std::int64_t count, std::int64_t time, std::int64_t end,
             const PacketSink& sink);
    // Fills up with silence to `end` microseconds, or cuts there, and encodes the rest.
    void Finish(std::int64_t end, const PacketSink& sink);

private:
    void Append(const std::uint8_t* samples, std::int64_t count, const PacketSink& sink);
    void AppendSilence(std::int64_t count, const PacketSink& sink);
    void EncodeWhole(const PacketSink& sink, bool all);

    CodecContextPtr encoder_;
    FramePtr frame_;
    AVAudioFifo* fifo_ = nullptr;
    std::int64_t appended_ = 0;    // samples on the time line so far, silence included
    std::int64_t encoded_ = 0;     // of these, samples given to the encoder
    double stretchCarried_ = 0.0;  // of a sample, owed by the stretching so far
};

}  // namespace Vantor::Lumo::Recorder
