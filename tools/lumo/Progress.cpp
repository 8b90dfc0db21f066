#include "tools/lumo/Progress.h"

#include <sys/stat.h>

#include <algorithm>
#include <utility>

namespace Vantor::Lumo::Tool {

namespace {

std::uint64_t SizeOf(const std::vector<std::string>& files) {
    std::uint64_t total = 0;
    for (const std::string& file : files) {
        struct stat info {};
        if (stat(file.c_str(), &info) == 0) {
            total += static_cast<std::uint64_t>(info.st_size);
        }
    }
    return total;
}

}  // namespace

std::string HumanSize(std::uint64_t bytes) {
    char text[32];
    if (bytes >= 1'000'000) {
        std::snprintf(text, sizeof text, "%.1f MB", bytes / 1e6);
    } else if (bytes >= 1'000) {
        std::snprintf(text, sizeof text, "%.0f kB", bytes / 1e3);
    } else {
        std::snprintf(text, sizeof text, "%llu B", static_cast<unsigned long long>(bytes));
    }
    return text;
}

ProgressLine::ProgressLine(bool enabled, std::vector<std::string> files)
    : enabled_(enabled), files_(std::move(files)) {}

ProgressLine::~ProgressLine() {
    End();
}

void ProgressLine::Update(double elapsedSeconds, const Recorder::RecordingCounters& counters,
                          bool paused, bool force) {
    if (!enabled_ || ended_ ||
        (!force && paused == paused_ && drawnAt_ >= 0 && elapsedSeconds - drawnAt_ < 1.0)) {
        return;
    }
    drawnAt_ = elapsedSeconds;
    paused_ = paused;
    const long whole = static_cast<long>(elapsedSeconds);
    // Drops since the last drawing: the machine is behind now, not only once.
    const std::int64_t dropped = counters.framesDropped;
    const bool behind = dropped > droppedAtDrawing_;
    droppedAtDrawing_ = dropped;
    char text[200];
    const int length = std::snprintf(
        text, sizeof text, "%s %ld:%02ld:%02ld  %s  %lld frames  %lld repeated  %lld dropped%s",
        paused ? "paused" : "recording", whole / 3600, whole / 60 % 60, whole % 60,
        HumanSize(SizeOf(files_)).c_str(), static_cast<long long>(counters.framesWritten),
        static_cast<long long>(counters.framesRepeated), static_cast<long long>(dropped),
        behind ? "  behind" : "");
    const std::size_t width = length > 0 ? static_cast<std::size_t>(length) : 0;
    // Spaces wipe the rest of a longer line drawn before.
    std::fprintf(stderr, "\r%s%*s", text, static_cast<int>(width_ > width ? width_ - width : 0),
                 "");
    std::fflush(stderr);
    width_ = std::max(width_, width);
}

void ProgressLine::End() {
    if (enabled_ && !ended_ && width_ > 0) {
        std::fputc('\n', stderr);
    }
    ended_ = true;
}

}  // namespace Vantor::Lumo::Tool
