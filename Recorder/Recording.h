#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Lib/Project/IProject.h"
#include "Recorder/Output/LateNamedFile.h"
#include "Recorder/RecordingCounters.h"
#include "Recorder/Sources/Source.h"

namespace Vantor::Lumo::Recorder {

struct RecordingState;

// One stream of a recording: where it comes from, and the path and stream index the project
// handed out for it.
struct Track {
    std::unique_ptr<Source> source;
    IProject::StreamInfo stream;
};

// A recording of pictures (H.264) and sound (FLAC) into Matroska files, every stream placed on
// one clock so that all start together at 0. Tracks sharing a path share one file, which
// carries the container tag as its VANTOR_SPECIFIC_METADATA. Each source is read on a thread of
// its own and encoded on another; pictures the encoder has no time for are dropped (and not
// even converted), and the sound never waits for the pictures.
class Recording {
public:
    // Sets up the encoders and the files; nothing appears under a final name yet. `nextName`
    // gives the next free name when a file's name was taken meanwhile. Throws
    // std::runtime_error when an encoder or a file can not be set up.
    Recording(std::vector<Track> tracks, const std::string& containerTag, NextName nextName);
    // A source left blocked in its device is left behind, and owns what it uses.
    ~Recording();
    Recording(const Recording&) = delete;
    Recording& operator=(const Recording&) = delete;

    // Records `seconds` when given, else until `keepGoing` answers false; it is called on this
    // thread about ten times a second with the seconds recorded so far, and is answered within
    // a second. Then the files are finished. Throws std::runtime_error naming the cause when a
    // source fails or stops delivering (10 s before its first piece, 5 s later on), the
    // encoding or writing fails, or nothing at all was recorded; whatever opens is kept
    // (see Files).
    // `wasStopped`, when given, is asked on every tick whether the process was stopped and
    // continued since the last call (SIGCONT): only then does a late tick count as a stopped
    // span; without it, any tick late by more than 0.3 s does.
    void Run(std::optional<double> seconds, const std::function<bool(double)>& keepGoing,
             const std::function<bool()>& wasStopped = nullptr);

    // Pauses or resumes the recording while Run runs (from `keepGoing`, say): what is captured
    // while paused is not recorded, and every stream goes on where it stopped, the paused span
    // cut from all alike. A length given to Run counts without the pauses. Logs (verbose) each
    // change; does nothing before Run or after the end.
    void SetPaused(bool paused);
    bool Paused() const;

    const RecordingCounters& Counters() const;
    // Once Run is over: the files kept, each under its final name; empty when none was.
    std::vector<std::string> Files() const;

private:
    std::shared_ptr<RecordingState> state_;
};

}  // namespace Vantor::Lumo::Recorder
