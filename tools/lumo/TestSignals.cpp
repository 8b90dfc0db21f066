#include "tools/lumo/TestSignals.h"

#include <cmath>
#include <stdexcept>

extern "C" {
#include <libavutil/samplefmt.h>
}

namespace Vantor::Lumo::Tool {

namespace {

constexpr int kSquare = 40;
constexpr int kCell = 32;
constexpr double kToneHz = 440.0;
constexpr double kToneAmplitude = 0.25;  // -12 dBFS: audible, far from clipping

std::uint8_t* Pixel(AVFrame& frame, int plane, int x, int y) {
    return frame.data[plane] + static_cast<std::ptrdiff_t>(y) * frame.linesize[plane] + x;
}

// Left and right and back again, 8 pixels a picture.
int SquareLeft(std::int64_t frameNumber, int width) {
    const int travel = width - kSquare;
    const int step = static_cast<int>((frameNumber * 8) % (2 * travel));
    return step < travel ? step : 2 * travel - step;
}

}  // namespace

void FillTestPattern(AVFrame& frame, std::int64_t frameNumber) {
    const int shift = static_cast<int>((frameNumber * 4) % (2 * kCell));
    const int left = SquareLeft(frameNumber, frame.width);
    const int top = (frame.height - kSquare) / 2;
    const auto inSquare = [&](int x, int y) {
        return x >= left && x < left + kSquare && y >= top && y < top + kSquare;
    };
    for (int y = 0; y < frame.height; ++y) {
        for (int x = 0; x < frame.width; ++x) {
            const bool darkCell = (((x + shift) / kCell) + (y / kCell)) % 2 == 0;
            *Pixel(frame, 0, x, y) = inSquare(x, y) ? 235 : darkCell ? 60 : 160;
        }
    }
    // Colour drifts across the checkerboard; the square stays white.
    for (int y = 0; y < frame.height / 2; ++y) {
        for (int x = 0; x < frame.width / 2; ++x) {
            const bool white = inSquare(2 * x, 2 * y);
            *Pixel(frame, 1, x, y) =
                white ? 128 : static_cast<std::uint8_t>(64 + (x * 2 + frameNumber) % 128);
            *Pixel(frame, 2, x, y) = white ? 128 : static_cast<std::uint8_t>(64 + (y * 2) % 128);
        }
    }
}

void FillTone(AVFrame& frame, std::int64_t firstSample) {
    const auto format = static_cast<AVSampleFormat>(frame.format);
    for (int i = 0; i < frame.nb_samples; ++i) {
        const double t = static_cast<double>(firstSample + i) / frame.sample_rate;
        const double value = kToneAmplitude * std::sin(2.0 * M_PI * kToneHz * t);
        // One channel: packed and planar lay the samples out the same way.
        switch (av_get_packed_sample_fmt(format)) {
            case AV_SAMPLE_FMT_S16:
                reinterpret_cast<std::int16_t*>(frame.data[0])[i] =
                    static_cast<std::int16_t>(std::lround(value * 32767.0));
                break;
            case AV_SAMPLE_FMT_S32:
                reinterpret_cast<std::int32_t*>(frame.data[0])[i] =
                    static_cast<std::int32_t>(std::lround(value * 2147483647.0));
                break;
            case AV_SAMPLE_FMT_FLT:
                reinterpret_cast<float*>(frame.data[0])[i] = static_cast<float>(value);
                break;
            default:
                throw std::logic_error("tone: unsupported sample format");
        }
    }
}

}  // namespace Vantor::Lumo::Tool
