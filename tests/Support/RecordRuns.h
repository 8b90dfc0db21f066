#pragma once

// `lumo record` runs as a user starts them, each with its stdout and stderr kept under a label,
// and what a finished run leaves read back through the library. Nothing here depends on
// GoogleTest.

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Platform/Plinth/MediaType.h"
#include "tests/Support/ChildProcess.h"

namespace Vantor::Testing {

struct RecordOutcome {
    int status = -1;  // -1: ended by a signal, or still running at the limit (then stopped)
    int signal = 0;
    std::string out;
    std::string err;
};

class RecordRuns {
public:
    // Runs `tool` with `environment` over ours; output files go to `logs`, which is also the
    // runs' TMPDIR, so a stray glog file would show there.
    RecordRuns(std::string tool, std::string logs, std::map<std::string, std::string> environment);

    // Starts `tool record ARGS...`.
    std::unique_ptr<ChildProcess> Start(const std::string& label,
                                        const std::vector<std::string>& args) const;
    // Waits up to `limitSeconds` for the run, stopping it when it does not end.
    RecordOutcome Finish(ChildProcess& run, const std::string& label,
                         double limitSeconds = 30.0) const;
    RecordOutcome Record(const std::string& label, const std::vector<std::string>& args) const;

private:
    std::string tool_;
    std::string logs_;
    std::map<std::string, std::string> environment_;
};

// The groups and types a loaded project lists, in stream order. Throws what LoadProject throws.
std::vector<std::pair<std::string, MediaType>> LoadGroups(const std::string& path);

// The lines of `text`, counted by their line feeds.
int CountLines(const std::string& text);

}  // namespace Vantor::Testing
