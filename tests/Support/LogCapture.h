#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <glog/logging.h>

namespace Vantor::Testing {

// A severity (google::GLOG_INFO is 0, WARNING 1, ERROR 2) and a message.
using LogLine = std::pair<google::LogSeverity, std::string>;
inline LogLine Info(std::string text) {
    return {google::GLOG_INFO, text};
}
inline LogLine Warning(std::string text) {
    return {google::GLOG_WARNING, text};
}
inline LogLine Error(std::string text) {
    return {google::GLOG_ERROR, text};
}

// Records every glog line written while it lives, from any thread.
class LogCapture : public google::LogSink {
public:
    LogCapture() { google::AddLogSink(this); }
    ~LogCapture() override { google::RemoveLogSink(this); }
    void send(google::LogSeverity severity, const char*, const char*, int, const struct ::tm*,
              const char* message, size_t length) override {
        const std::lock_guard<std::mutex> lock(mutex_);
        lines_.emplace_back(severity, std::string(message, length));
    }
    std::vector<LogLine> Lines() const {
        const std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }
    void Clear() {
        const std::lock_guard<std::mutex> lock(mutex_);
        lines_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<LogLine> lines_;
};

}  // namespace Vantor::Testing
