#pragma once

#include <functional>
#include <string>
#include <vector>

#include "Lib/Project/IProject.h"

namespace Vantor::Lumo::Tool {

// Records `seconds` of a moving test pattern into each video target and of a tone into each
// audio target, at exactly the path and stream index the target names. Targets sharing a path
// share one Matroska file, which carries `containerTag` (when not empty) as its
// VANTOR_SPECIFIC_METADATA. Each file appears complete under its name, or not at all.
// `onProgress` gets the seconds recorded so far, once a picture; it may throw to stop.
void Record(const std::vector<IProject::StreamInfo>& targets, const std::string& containerTag,
            double seconds, const std::function<void(double)>& onProgress);

}  // namespace Vantor::Lumo::Tool
