#pragma once

// Several contenders measured in one benchmark, each once per iteration, in an order shuffled
// anew for every iteration. On a machine whose speed drifts from one second to the
// next, a library and its anchor timed side by side see the same drift, which separate
// benchmarks, even interleaved, do not.

#include <benchmark/benchmark.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace Vantor::Bench {

struct Contender {
    Contender(std::string name, std::function<void()> run, std::function<void()> prepare = {},
              std::function<void()> cleanup = {})
        : name(std::move(name)),
          run(std::move(run)),
          prepare(std::move(prepare)),
          cleanup(std::move(cleanup)) {}

    std::string name;               // the counter holding its seconds per run
    std::function<void()> run;      // timed; throws to stop the benchmark with an error
    std::function<void()> prepare;  // untimed, before each turn; may be empty
    std::function<void()> cleanup;  // untimed, after each turn; may be empty
};

// The benchmark's time is the first contender's; every contender's seconds per run are also a
// counter under its name (so Figure::Counter(name, contender.name, "s")). Uses manual time:
// set iterations or a minimum time on the result.
//
// With `runsInARow` above 1, each turn of a contender is that many runs timed together (prepare
// and cleanup then come once around the whole turn): the steady state of a tight loop, in place
// of one run amid the others' work, whose caches it finds cold.
benchmark::internal::Benchmark* RegisterSideBySide(const std::string& name,
                                                   std::vector<Contender> contenders,
                                                   int runsInARow = 1);

}  // namespace Vantor::Bench
