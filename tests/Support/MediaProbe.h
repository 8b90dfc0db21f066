#pragma once

// What a recording holds, read with libavformat and decoded with libavcodec: its streams'
// timing, the colour of a picture and the samples of its sound. A file cut short (a recorder
// killed midway) reads up to its last whole packet. Failures throw std::runtime_error naming
// the file. Nothing here depends on GoogleTest.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Plinth/MediaType.h"

namespace Vantor::Testing {

struct StreamSummary {
    MediaType type = MediaType::None;
    std::string codec;   // FFmpeg's codec name, e.g. "h264"
    int width = 0;       // pictures only
    int height = 0;      // pictures only
    int sampleRate = 0;  // sound only
    std::int64_t packets = 0;
    double startSeconds = 0.0;  // the earliest presentation time
    double endSeconds = 0.0;    // the latest presentation time plus its packet's duration
};

struct MediaSummary {
    std::optional<double> durationSeconds;  // as the container states it, if it does
    std::vector<StreamSummary> streams;
};

// Reads every packet of `path`.
MediaSummary Summarise(const std::string& path);

struct Colour {
    double red = 0.0;  // 0..255
    double green = 0.0;
    double blue = 0.0;
};

// The mean colour of the first picture of the first video stream shown at or after
// `seconds` (from the stream's start). Planar 8-bit YUV pictures only.
Colour MeanColourAt(const std::string& path, double seconds);

// The grey level (0..255, the mean of the luma) of every picture of the first video stream, by
// its time from the stream's start.
struct Level {
    double seconds = 0.0;
    double grey = 0.0;
};
std::vector<Level> PictureLevels(const std::string& path);

// The first channel of the first audio stream: `seconds` worth of consecutive samples from the
// first one at or after `fromSeconds` (from the stream's start), in -1..1, and the sample rate.
// Fewer when the stream ends first.
struct Sound {
    int sampleRate = 0;
    std::vector<float> samples;
};
Sound SoundAt(const std::string& path, double fromSeconds, double seconds);

// The frequency with the most energy among `low`, `low + step`, ... up to `high` (Goertzel).
double StrongestFrequency(const Sound& sound, double low, double high, double step);

// The root mean square of the samples.
double Loudness(const Sound& sound);

// The longest run of samples quieter than `threshold`: a gap in a steady tone. Its start is in
// seconds from the first sample of `sound`.
struct Silence {
    double startSeconds = 0.0;
    double seconds = 0.0;
};
Silence LongestSilence(const Sound& sound, float threshold);

}  // namespace Vantor::Testing
