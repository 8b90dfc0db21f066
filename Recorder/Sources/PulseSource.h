#pragma once

// A PulseAudio source as a sound source, through libpulse.

#include <memory>
#include <string>

#include "Recorder/Sources/Source.h"

namespace Vantor::Lumo::Recorder {

// Opens the PulseAudio source `name` ("default", or a name from `pactl list short sources`)
// for 48 kHz stereo s16 in pieces of 20 ms, and waits for its first sound: a sound server that
// has only just begun to serve the source takes up to a second or two for it, which a
// recording should not spend on its own clock. Throws std::runtime_error naming the source when
// the sound server or the source is missing, or the source fails before it delivers. Blocks
// until the source delivers: a caller that must not hang runs it through WaitOrAbandon.
std::unique_ptr<Source> OpenPulseSource(const std::string& name);

}  // namespace Vantor::Lumo::Recorder
