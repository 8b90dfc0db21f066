#include "tests/Support/RecordRuns.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include "Lib/Project/ProjectManager.h"
#include "Platform/Host/LocalFileManager.h"

namespace Vantor::Testing {

namespace {

std::string Contents(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

}  // namespace

RecordRuns::RecordRuns(std::string tool, std::string logs,
                       std::map<std::string, std::string> environment)
    : tool_(std::move(tool)), logs_(std::move(logs)), environment_(std::move(environment)) {
    environment_["TMPDIR"] = logs_;
}

std::unique_ptr<ChildProcess> RecordRuns::Start(const std::string& label,
                                                const std::vector<std::string>& args) const {
    std::vector<std::string> argv{tool_, "record"};
    argv.insert(argv.end(), args.begin(), args.end());
    ChildOptions options;
    options.environment = environment_;
    options.stdoutPath = logs_ + "/" + label + ".out";
    options.stderrPath = logs_ + "/" + label + ".err";
    return std::make_unique<ChildProcess>(argv, options);
}

RecordOutcome RecordRuns::Finish(ChildProcess& run, const std::string& label,
                                 double limitSeconds) const {
    RecordOutcome outcome;
    std::optional<ChildExit> exit = run.WaitFor(limitSeconds);
    if (!exit) {
        run.Stop();
    } else {
        outcome.status = exit->status;
        outcome.signal = exit->signal;
    }
    outcome.out = Contents(logs_ + "/" + label + ".out");
    outcome.err = Contents(logs_ + "/" + label + ".err");
    return outcome;
}

RecordOutcome RecordRuns::Record(const std::string& label,
                                 const std::vector<std::string>& args) const {
    return Finish(*Start(label, args), label);
}

std::vector<std::pair<std::string, MediaType>> LoadGroups(const std::string& path) {
    Lumo::ProjectManager projects(std::make_shared<Lumo::LocalFileManager>(), {});
    projects.LoadProject(path);
    std::vector<std::pair<std::string, MediaType>> groups;
    for (const auto& stream : projects.GetCurrentProject()->GetInfo().streams) {
        groups.emplace_back(stream.group, stream.type);
    }
    return groups;
}

int CountLines(const std::string& text) {
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

}  // namespace Vantor::Testing
