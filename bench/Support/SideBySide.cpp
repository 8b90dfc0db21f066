#include "bench/Support/SideBySide.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <numeric>
#include <random>
#include <utility>

namespace Vantor::Bench {

namespace {

using Clock = std::chrono::steady_clock;

void Measure(benchmark::State& state, const std::vector<Contender>& contenders, int runsInARow) {
    std::vector<double> totals(contenders.size(), 0.0);
    std::vector<std::size_t> order(contenders.size());
    std::iota(order.begin(), order.end(), 0);
    // A fixed seed: the same sequence in every run, and no contender always follows the same one.
    std::mt19937 random(20240305);
    try {
        for (auto _ : state) {
            double first = 0.0;
            std::shuffle(order.begin(), order.end(), random);
            for (const std::size_t index : order) {
                const Contender& contender = contenders[index];
                if (contender.prepare) {
                    contender.prepare();
                }
                const auto start = Clock::now();
                for (int run = 0; run < runsInARow; ++run) {
                    contender.run();
                }
                const double seconds =
                    std::chrono::duration<double>(Clock::now() - start).count() / runsInARow;
                if (contender.cleanup) {
                    contender.cleanup();
                }
                totals[index] += seconds;
                if (index == 0) {
                    first = seconds;
                }
            }
            state.SetIterationTime(first);
        }
    } catch (const std::exception& error) {
        state.SkipWithError(error.what());
        return;
    }
    for (std::size_t i = 0; i < contenders.size(); ++i) {
        state.counters[contenders[i].name] =
            benchmark::Counter(totals[i], benchmark::Counter::kAvgIterations);
    }
}

}  // namespace

benchmark::internal::Benchmark* RegisterSideBySide(const std::string& name,
                                                   std::vector<Contender> contenders,
                                                   int runsInARow) {
    auto measure = [contenders = std::move(contenders), runsInARow](benchmark::State& state) {
        Measure(state, contenders, runsInARow);
    };
    return benchmark::RegisterBenchmark(name.c_str(), std::move(measure))->UseManualTime();
}

}  // namespace Vantor::Bench
