#pragma once

// How far a recording holds the sound of SharedEvents' events from their pictures. Failures
// throw std::runtime_error naming the file. Nothing here depends on GoogleTest.

#include <string>
#include <vector>

namespace Vantor::Testing {

// One event: the sound's onset minus the instant its first flashed picture points back to (its
// time less what its grey level says it is late), in milliseconds, at `seconds` in the file.
struct Offset {
    double seconds = 0.0;
    double milliseconds = 0.0;
};
// The events found in both streams of `path`, paired within half of `periodSeconds`.
std::vector<Offset> EventOffsets(const std::string& path, double periodSeconds);

struct SyncFigures {
    int events = 0;
    double mean = 0.0;           // ms
    double sd = 0.0;             // ms
    double maxFromMedian = 0.0;  // ms
    double drift = 0.0;          // ms from the first event to the last, by a fitted line
};
SyncFigures Figures(const std::vector<Offset>& offsets);
// The figures of the events found in `path`, one every `periodSeconds`.
SyncFigures MeasureSync(const std::string& path, double periodSeconds);
// "12 events: mean -3.1 ms, sd 2.0 ms, max 5.2 ms from the median, drift 1.1 ms".
std::string Describe(const SyncFigures& figures);

// The ffmpeg program recording `seconds` of the X display `display` at `fps` and the PulseAudio
// source `source` into `file`, as the issue of its sync measures it: the anchor lumo is held to.
std::vector<std::string> FfmpegRecording(const std::string& display, const std::string& source,
                                         int fps, int seconds, const std::string& file);

}  // namespace Vantor::Testing
