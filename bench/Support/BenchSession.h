#pragma once

// What every benchmark program shares: logging set up for a measuring run, Google Benchmark with
// the repetitions of its benchmarks interleaved at random, and the closing lines that put each
// median beside its anchor's and its goal.

#include <optional>
#include <string>
#include <vector>

namespace Vantor::Bench {

// The median over repetitions of one registered benchmark: its real time per iteration, or
// one of its user counters.
struct Figure {
    std::string benchmark;  // the name it was registered under
    std::string counter;    // empty for real time
    std::string unit;       // how a counter's value reads: "s" for seconds, "MiB", ...

    static Figure Time(std::string benchmark);
    static Figure Counter(std::string benchmark, std::string counter, std::string unit);
};

// With an anchor: library / anchor must stay at or under `limit`, unless `bound` is Library.
// Without an anchor, or with Bound::Library, the library's figure itself must (seconds for a
// time, the counter's unit otherwise); an anchor then shows the scale beside it.
struct Goal {
    enum class Bound { Ratio, Library };

    std::string label;  // what the library did, e.g. "GenerateProjectPath 100k entries"
    Figure library;
    std::string anchorLabel;  // e.g. "readdir"
    std::optional<Figure> anchor;
    double limit = 0.0;
    Bound bound = Bound::Ratio;
};

class Session {
public:
    // Takes `--summary=FILE` out of the arguments: the closing lines are appended there too.
    Session(int& argc, char** argv, std::string program);
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // A line printed with the closing lines, e.g. a one-off cost measured outside the runs.
    void Note(const std::string& line);

    // Runs the registered benchmarks, prints each goal's line and returns the exit status:
    // 0, or 1 when a benchmark could not run. A ratio over its goal is printed and marked, but
    // is not a failure of the run: these are measurements, not tests.
    int Run(const std::vector<Goal>& goals);

private:
    std::vector<char*> arguments_;
    std::string program_;
    std::string summaryPath_;
    std::vector<std::string> notes_;
};

// "41.2 ms", "3.10 us": three significant digits in the unit that suits the value.
std::string FormatSeconds(double seconds);

}  // namespace Vantor::Bench
