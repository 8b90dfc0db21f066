#include "Platform/Reelkit/FfmpegLog.h"

#include <cstdarg>
#include <cstddef>
#include <string>

#include <glog/logging.h>

extern "C" {
#include <libavutil/log.h>
}

namespace Vantor::Proc {

namespace {

void LogLine(int level, const std::string& text) {
    if (level <= AV_LOG_ERROR) {
        LOG(ERROR) << "FFmpeg: " << text;
    } else if (level <= AV_LOG_WARNING) {
        LOG(WARNING) << "FFmpeg: " << text;
    } else if (level <= AV_LOG_INFO) {
        LOG(INFO) << "FFmpeg: " << text;
    } else if (level <= AV_LOG_VERBOSE) {
        VLOG(1) << "FFmpeg: " << text;
    } else {
        VLOG(2) << "FFmpeg: " << text;
    }
}

// FFmpeg often writes one line in several calls (a context prefix, then the text, then the
// newline). Each thread assembles its own line, so threads never splice into each other's.
constexpr std::size_t kLongestLine = 4096;  // a longer one is logged in parts

struct PendingLine {
    std::string text;
    int level = AV_LOG_QUIET;
    int printPrefix = 1;  // FFmpeg's flag: the next piece starts a line and gets the prefix
};

void ToGlog(void* context, int taggedLevel, const char* format, va_list arguments) {
    const int level = taggedLevel & 0xff;  // the bits above are a colour hint
    if (level > av_log_get_level()) {
        return;
    }
    try {
        thread_local PendingLine pending;
        char piece[1024];
        av_log_format_line2(context, taggedLevel, format, arguments, piece, sizeof piece,
                            &pending.printPrefix);
        if (pending.text.empty()) {
            pending.level = level;
        }
        pending.text += piece;
        const bool complete = !pending.text.empty() && pending.text.back() == '\n';
        if (!complete && pending.text.size() < kLongestLine) {
            return;  // the rest of the line is still to come
        }
        std::string line;
        line.swap(pending.text);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
            line.pop_back();
        }
        if (!line.empty()) {
            LogLine(pending.level, line);
        }
    } catch (...) {
        // A log line is never worth unwinding through FFmpeg's C frames.
    }
}

}  // namespace

void RouteFfmpegLogToGlog() {
    av_log_set_callback(&ToGlog);
}

}  // namespace Vantor::Proc
