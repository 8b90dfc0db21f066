#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "Recorder/RecordingCounters.h"

namespace Vantor::Lumo::Tool {

// The line on stderr that shows a recording going on: elapsed time, size of its files,
// pictures written, repeated and dropped, "behind" while pictures are being dropped, and
// "paused" while it is. Does nothing when not enabled.
class ProgressLine {
public:
    ProgressLine(bool enabled, std::vector<std::string> files);
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // Redraws the line when a second has passed since the last drawing, when the recording was
    // paused or resumed since, or when `force`.
    void Update(double elapsedSeconds, const Recorder::RecordingCounters& counters, bool paused,
                bool force = false);
    // Leaves the line as it is and moves below it.
    void End();

private:
    bool enabled_;
    std::vector<std::string> files_;
    double drawnAt_ = -1.0;
    std::size_t width_ = 0;
    std::int64_t droppedAtDrawing_ = 0;
    bool ended_ = false;
    bool paused_ = false;
};

// "12.3 MB", "850 kB", "42 B".
std::string HumanSize(std::uint64_t bytes);

}  // namespace Vantor::Lumo::Tool
