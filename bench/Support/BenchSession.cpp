#include "bench/Support/BenchSession.h"

#include <benchmark/benchmark.h>
#include <glog/logging.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <utility>

namespace Vantor::Bench {

namespace {

constexpr char kSummaryFlag[] = "--summary=";
constexpr char kInterleavingFlag[] = "--benchmark_enable_random_interleaving";

struct Median {
    double realSeconds = 0.0;
    std::map<std::string, double> counters;
};

// The console output as usual, and the medians kept for the closing lines.
class MedianCollector : public benchmark::ConsoleReporter {
public:
    MedianCollector() : ConsoleReporter(::isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const std::string& name = run.run_name.function_name;
            if (run.error_occurred) {
                errors_[name] = run.error_message;
                continue;
            }
            // A benchmark run once is its own median.
            const bool aggregate =
                run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            const bool once = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
            if (!aggregate && !once) {
                continue;
            }
            Median& median = medians_[name];
            median.realSeconds =
                run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
            for (const auto& [counter, value] : run.counters) {
                median.counters[counter] = value.value;
            }
        }
    }

    bool AnyError() const { return !errors_.empty(); }

    // The figure's value, or why there is none.
    std::optional<double> Value(const Figure& figure, std::string& why) const {
        if (const auto error = errors_.find(figure.benchmark); error != errors_.end()) {
            why = "failed: " + error->second;
            return std::nullopt;
        }
        const auto median = medians_.find(figure.benchmark);
        if (median == medians_.end()) {
            why = "not measured in this run";
            return std::nullopt;
        }
        if (figure.counter.empty()) {
            return median->second.realSeconds;
        }
        const auto counter = median->second.counters.find(figure.counter);
        if (counter == median->second.counters.end()) {
            why = "no counter '" + figure.counter + "'";
            return std::nullopt;
        }
        return counter->second;
    }

private:
    std::map<std::string, Median> medians_;
    std::map<std::string, std::string> errors_;
};

std::string FormatNumber(double value, const char* format) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string FormatFigure(const Figure& figure, double value) {
    if (figure.counter.empty() || figure.unit == "s") {
        return FormatSeconds(value);
    }
    return FormatNumber(value, "%.1f") + " " + figure.unit;
}

std::string FormatLimit(const Goal& goal) {
    if (goal.anchor && goal.bound == Goal::Bound::Ratio) {
        return FormatNumber(goal.limit, "%.2f") + "x";
    }
    return FormatFigure(goal.library, goal.limit);
}

std::string GoalLine(const Goal& goal, const MedianCollector& collector) {
    std::string why;
    const auto library = collector.Value(goal.library, why);
    if (!library) {
        return goal.label + ": " + why;
    }
    std::string line = goal.label + ": " + FormatFigure(goal.library, *library);
    double measured = *library;
    if (goal.anchor) {
        const auto anchor = collector.Value(*goal.anchor, why);
        if (!anchor) {
            return line + " vs " + goal.anchorLabel + ": " + why;
        }
        line += " vs " + goal.anchorLabel + " " + FormatFigure(*goal.anchor, *anchor);
        if (goal.bound == Goal::Bound::Ratio) {
            measured = *anchor > 0 ? *library / *anchor : INFINITY;
            // A third decimal where two would round an over-goal ratio onto its limit.
            const bool close = FormatNumber(measured, "%.2f") == FormatNumber(goal.limit, "%.2f");
            line += " = " + FormatNumber(measured, close ? "%.3f" : "%.2f") + "x";
        }
    }
    line += " (goal <= " + FormatLimit(goal) + ")";
    line += measured <= goal.limit ? "  ok" : "  OVER GOAL";
    return line;
}

}  // namespace

Figure Figure::Time(std::string benchmark) {
    return Figure{std::move(benchmark), {}, {}};
}

Figure Figure::Counter(std::string benchmark, std::string counter, std::string unit) {
    return Figure{std::move(benchmark), std::move(counter), std::move(unit)};
}

std::string FormatSeconds(double seconds) {
    static const std::pair<double, const char*> kUnits[] = {
        {1.0, "s"}, {1e-3, "ms"}, {1e-6, "us"}, {1e-9, "ns"}};
    for (const auto& [scale, unit] : kUnits) {
        if (std::fabs(seconds) >= scale || scale == 1e-9) {
            const double value = seconds / scale;
            const char* format = value >= 100 ? "%.0f" : value >= 10 ? "%.1f" : "%.2f";
            return FormatNumber(value, format) + " " + unit;
        }
    }
    return "?";
}

Session::Session(int& argc, char** argv, std::string program) : program_(std::move(program)) {
    google::InitGoogleLogging(argv[0]);
    // Trouble shows on the console; nothing is written to log files in the middle of a run.
    FLAGS_logtostderr = true;

    bool interleavingChosen = false;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], kSummaryFlag, sizeof kSummaryFlag - 1) == 0) {
            summaryPath_ = argv[i] + sizeof kSummaryFlag - 1;
            continue;
        }
        if (std::strncmp(argv[i], kInterleavingFlag, sizeof kInterleavingFlag - 1) == 0) {
            interleavingChosen = true;
        }
        arguments_.push_back(argv[i]);
    }
    if (!interleavingChosen) {
        static char interleave[] = "--benchmark_enable_random_interleaving=true";
        arguments_.push_back(interleave);
    }
}

void Session::Note(const std::string& line) {
    notes_.push_back(line);
}

int Session::Run(const std::vector<Goal>& goals) {
    int argc = static_cast<int>(arguments_.size());
    arguments_.push_back(nullptr);
    benchmark::Initialize(&argc, arguments_.data());
    if (benchmark::ReportUnrecognizedArguments(argc, arguments_.data())) {
        return 2;
    }
    MedianCollector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    benchmark::Shutdown();

    std::vector<std::string> lines = notes_;
    for (const Goal& goal : goals) {
        lines.push_back(GoalLine(goal, collector));
    }
    std::cout << "\n" << program_ << " (medians of repetitions):\n";
    for (const std::string& line : lines) {
        std::cout << "  " << line << '\n';
    }
    std::cout.flush();
    if (!summaryPath_.empty()) {
        std::ofstream summary(summaryPath_, std::ios::app);
        for (const std::string& line : lines) {
            summary << program_ << ": " << line << '\n';
        }
        if (!summary) {
            std::cerr << "warning: cannot append to '" << summaryPath_ << "'\n";
        }
    }
    return collector.AnyError() ? 1 : 0;
}

}  // namespace Vantor::Bench
