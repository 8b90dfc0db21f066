#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "Lib/Project/ProjectManager.h"
#include "Recorder/Output/LateNamedFile.h"

namespace Vantor::Lumo::Tool {

// The project a recording goes into, made so that recorders started together never collide:
// a name another run took is never replaced and never removed; this run takes the next one.
class RecordingProject {
public:
    // Creates a new project under the next free default name in `directory`, which is created
    // when missing. Throws the library's exceptions when it can not.
    RecordingProject(const std::string& directory, bool folder);

    // The path and stream index for the next stream (IProject::AddStream).
    IProject::StreamInfo AddStream(MediaType type, const std::string& group);
    // For a media-container project: when the file's name turned out to be taken, a new
    // project under the next free name, with the same streams; its path is the answer. A
    // folder project owns its folder and needs none.
    Recorder::NextName NextName();
    // Writes the project's path and a line feed to `out`. Throws std::runtime_error when it can
    // not (a closed stdout).
    void PrintPath(std::ostream& out) const;
    // Takes back what this run made when it recorded nothing: its folder project, and the
    // directories it created on the way (only while they are empty).
    void Abandon();

private:
    void Create();

    std::string directory_;
    bool folder_;
    std::vector<std::string> madeDirectories_;  // deepest first
    std::vector<std::pair<MediaType, std::string>> streams_;
    ProjectManager projects_;
};

}  // namespace Vantor::Lumo::Tool
