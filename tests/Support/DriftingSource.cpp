#include "tests/Support/DriftingSource.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace Vantor::Testing {

namespace {

constexpr double kRate = 48000.0;
constexpr double kBurstSeconds = 0.1;

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

DriftingSource::DriftingSource(CaptureStage& stage, const std::string& name, double ppm,
                               const SharedEvents& events)
    : rate_(kRate * (1 + ppm * 1e-6)), events_(events) {
    const std::string fifo = stage.AddPipeSource(name);
    // Without waiting: the module holds the FIFO open for reading, or it failed.
    fifo_ = open(fifo.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK);
    if (fifo_ < 0) {
        throw std::runtime_error("cannot write into " + fifo);
    }
    writer_ = std::thread([this] { Feed(); });
}

DriftingSource::~DriftingSource() {
    stopping_ = true;
    writer_.join();
    close(fifo_);
}

// Every few milliseconds, the samples due by now on the drifting clock.
void DriftingSource::Feed() {
    const double start = Now();
    std::int64_t written = 0;
    std::vector<std::int16_t> chunk;
    while (!stopping_) {
        const auto due = static_cast<std::int64_t>((Now() - start) * rate_);
        chunk.clear();
        for (std::int64_t n = written; n < due; ++n) {
            const double since = events_.SinceInstant(start + static_cast<double>(n) / rate_);
            const bool burst = since >= 0 && since < kBurstSeconds;
            chunk.push_back(
                static_cast<std::int16_t>(burst ? 16000 * std::sin(2 * M_PI * 1000 * since) : 0));
        }
        if (!chunk.empty() && write(fifo_, chunk.data(), chunk.size() * sizeof chunk[0]) < 0) {
            return;
        }
        written = due;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace Vantor::Testing
