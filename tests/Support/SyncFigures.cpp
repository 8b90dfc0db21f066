#include "tests/Support/SyncFigures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "tests/Support/MediaProbe.h"
#include "tests/Support/SharedEvents.h"

namespace Vantor::Testing {

namespace {

constexpr double kDark = 20.0;     // a black screen through H.264 stays below this
constexpr double kFlashed = 30.0;  // and a flash starts at 40
constexpr double kSaturated = 240.0;
constexpr float kLoud = 0.05f;        // the burst plays at half of full scale
constexpr double kQuietBefore = 0.3;  // seconds of silence before an onset

double StartOf(const MediaSummary& summary, MediaType type, const std::string& path) {
    for (const StreamSummary& stream : summary.streams) {
        if (stream.type == type) {
            return stream.startSeconds;
        }
    }
    throw std::runtime_error("'" + path + "' lacks a stream to measure");
}

// When each flash began by the pictures: the first bright picture's time less its lateness.
std::vector<double> PictureInstants(const std::string& path, double start) {
    const std::vector<Level> levels = PictureLevels(path);
    std::vector<double> instants;
    for (std::size_t n = 1; n < levels.size(); ++n) {
        const double grey = levels[n].grey;
        if (levels[n - 1].grey < kDark && grey > kFlashed && grey < kSaturated) {
            instants.push_back(start + levels[n].seconds -
                               (grey - SharedEvents::kFirstLevel) / SharedEvents::kLevelsPerSecond);
        }
    }
    return instants;
}

std::vector<double> SoundOnsets(const std::string& path, double start) {
    const Sound sound = SoundAt(path, 0.0, 1e6);
    std::vector<double> onsets;
    const auto quiet = static_cast<std::ptrdiff_t>(kQuietBefore * sound.sampleRate);
    std::ptrdiff_t lastLoud = -quiet - 1;
    for (std::size_t n = 0; n < sound.samples.size(); ++n) {
        if (std::fabs(sound.samples[n]) > kLoud) {
            const auto here = static_cast<std::ptrdiff_t>(n);
            if (here - lastLoud > quiet) {
                onsets.push_back(start + static_cast<double>(n) / sound.sampleRate);
            }
            lastLoud = here;
        }
    }
    return onsets;
}

}  // namespace

std::vector<Offset> EventOffsets(const std::string& path, double periodSeconds) {
    const MediaSummary summary = Summarise(path);
    const std::vector<double> pictures =
        PictureInstants(path, StartOf(summary, MediaType::Video, path));
    const std::vector<double> sounds = SoundOnsets(path, StartOf(summary, MediaType::Audio, path));
    std::vector<Offset> offsets;
    for (double picture : pictures) {
        const auto nearest = std::min_element(
            sounds.begin(), sounds.end(),
            [&](double a, double b) { return std::fabs(a - picture) < std::fabs(b - picture); });
        if (nearest != sounds.end() && std::fabs(*nearest - picture) < periodSeconds / 2) {
            offsets.push_back({picture, (*nearest - picture) * 1000.0});
        }
    }
    return offsets;
}

SyncFigures Figures(const std::vector<Offset>& offsets) {
    SyncFigures figures;
    figures.events = static_cast<int>(offsets.size());
    if (offsets.empty()) {
        return figures;
    }
    const double count = static_cast<double>(offsets.size());
    double t = 0, y = 0;
    for (const Offset& offset : offsets) {
        t += offset.seconds;
        y += offset.milliseconds;
    }
    t /= count;
    y /= count;
    figures.mean = y;
    double variance = 0, covariance = 0, spread = 0;
    std::vector<double> sorted;
    for (const Offset& offset : offsets) {
        variance += (offset.milliseconds - y) * (offset.milliseconds - y);
        covariance += (offset.seconds - t) * (offset.milliseconds - y);
        spread += (offset.seconds - t) * (offset.seconds - t);
        sorted.push_back(offset.milliseconds);
    }
    figures.sd = std::sqrt(variance / count);
    std::sort(sorted.begin(), sorted.end());
    const double median = sorted[sorted.size() / 2];
    for (double value : sorted) {
        figures.maxFromMedian = std::max(figures.maxFromMedian, std::fabs(value - median));
    }
    if (spread > 0) {
        figures.drift = covariance / spread * (offsets.back().seconds - offsets.front().seconds);
    }
    return figures;
}

std::string Describe(const SyncFigures& figures) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "%d events: mean %.1f ms, sd %.1f ms, max %.1f ms from the median, drift %.1f ms",
                  figures.events, figures.mean, figures.sd, figures.maxFromMedian, figures.drift);
    return text;
}

SyncFigures MeasureSync(const std::string& path, double periodSeconds) {
    return Figures(EventOffsets(path, periodSeconds));
}

std::vector<std::string> FfmpegRecording(const std::string& display, const std::string& source,
                                         int fps, int seconds, const std::string& file) {
    return {"ffmpeg",
            "-nostdin",
            "-y",
            "-v",
            "error",
            "-thread_queue_size",
            "512",
            "-f",
            "x11grab",
            "-framerate",
            std::to_string(fps),
            "-i",
            display,
            "-thread_queue_size",
            "512",
            "-f",
            "pulse",
            "-i",
            source,
            "-t",
            std::to_string(seconds),
            "-c:v",
            "libx264",
            "-preset",
            "veryfast",
            "-pix_fmt",
            "yuv420p",
            "-c:a",
            "flac",
            file};
}

}  // namespace Vantor::Testing
