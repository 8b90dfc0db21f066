#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Lib/Project/IProject.h"
#include "tools/lumo/Capture.h"
#include "tools/lumo/Progress.h"

namespace Vantor::Lumo::Tool {

// The real sources of a recording; at least one is present.
struct LiveSources {
    std::optional<ScreenSource> screen;  // with its exact rectangle, as ProbeScreen gives it
    std::optional<std::string> mic;      // a PulseAudio source name, or "default"
};

// Captures the screen into the video target and the microphone into the audio target, at the
// path and stream index each names, encoding H.264 and FLAC into Matroska. Targets sharing a
// path share one file, which carries `containerTag` (when not empty) as its
// VANTOR_SPECIFIC_METADATA. Both streams share one clock and start together at 0.
// Records `seconds` when given, else until `keepGoing` answers false; it is called on this
// thread about ten times a second with the seconds recorded so far. Pictures the encoder has
// no time for are dropped and counted in `counters`; the sound never waits for the pictures.
// Whatever happens, the files written so far are finished and stay; throws
// std::runtime_error when a device or the encoding fails.
void RecordLive(const std::vector<IProject::StreamInfo>& targets, const std::string& containerTag,
                const LiveSources& sources, std::optional<double> seconds,
                RecordingCounters& counters, const std::function<bool(double)>& keepGoing);

}  // namespace Vantor::Lumo::Tool
