// GetCallStack, paid on every throw of the library. Its first call in the process loads the
// symbols of every module, so that one is measured on its own; so is the first call in a second
// thread, which must not load them again.

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "Platform/Plinth/Exception.h"
#include "bench/Support/BenchSession.h"

namespace {

using namespace Vantor;
using Bench::Figure;
using Bench::Goal;
using Clock = std::chrono::steady_clock;

constexpr char kCallStack[] = "GetCallStack/16 frames deep";
constexpr int kDepth = 16;

// Asks for the stack from `depth` frames further down, like a throw deep inside the library.
[[gnu::noinline]] std::size_t CallStackLength(int depth) {
    if (depth > 0) {
        const std::size_t length = CallStackLength(depth - 1);
        benchmark::DoNotOptimize(length);
        return length;
    }
    return GetCallStack().size();
}

// Resident memory of this process, from /proc/self/statm.
double ResidentMiB() {
    long pages = 0;
    long resident = 0;
    if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) {
            resident = 0;
        }
        std::fclose(statm);
    }
    return static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE)) /
           (1024.0 * 1024.0);
}

std::string MiB(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MiB", value);
    return text;
}

double SecondsOfOneCall() {
    const auto start = Clock::now();
    benchmark::DoNotOptimize(CallStackLength(kDepth));
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    Bench::Session session(argc, argv, "CallStackBench");

    // The symbols libbacktrace loads stay with the process: their memory is measured too.
    const double before = ResidentMiB();
    const double first = SecondsOfOneCall();
    const double afterFirst = ResidentMiB();
    const double second = SecondsOfOneCall();
    double firstInThread = 0.0;
    std::thread([&firstInThread] { firstInThread = SecondsOfOneCall(); }).join();
    const double afterThread = ResidentMiB();
    session.Note("GetCallStack first call: " + Bench::FormatSeconds(first) + ", +" +
                 MiB(afterFirst - before) + " resident; second call " +
                 Bench::FormatSeconds(second) + "; first call in a new thread " +
                 Bench::FormatSeconds(firstInThread) + ", +" + MiB(afterThread - afterFirst) +
                 " resident");

    benchmark::RegisterBenchmark(kCallStack,
                                 [](benchmark::State& state) {
                                     for (auto _ : state) {
                                         benchmark::DoNotOptimize(CallStackLength(kDepth));
                                     }
                                 })
        ->Unit(benchmark::kMicrosecond)
        ->MinTime(0.2)
        ->Repetitions(9)
        ->ReportAggregatesOnly(true);

    return session.Run({
        Goal{"GetCallStack after the first call", Figure::Time(kCallStack), "", std::nullopt,
             200e-6},
    });
}
