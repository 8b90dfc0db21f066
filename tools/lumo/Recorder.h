#pragma once

#include <functional>
#include <string>
#include <vector>

#include "Lib/Project/IProject.h"
#include "tools/lumo/Progress.h"

namespace Vantor::Lumo::Tool {

// Records `seconds` of a moving test pattern into each video target and of a tone into each
// audio target, at exactly the path and stream index the target names. Targets sharing a path
// share one Matroska file, which carries `containerTag` (when not empty) as its
// VANTOR_SPECIFIC_METADATA. Each file is written under its name from the start.
// `keepGoing` gets the seconds recorded so far, once a picture; when it answers false the
// recording ends there and its files are finished. Throws std::runtime_error when encoding or
// writing fails; the files stay as far as they got.
void Record(const std::vector<IProject::StreamInfo>& targets, const std::string& containerTag,
            double seconds, RecordingCounters& counters,
            const std::function<bool(double)>& keepGoing);

}  // namespace Vantor::Lumo::Tool
