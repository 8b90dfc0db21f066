#pragma once

#include <string>
#include <vector>

#include <glog/logging.h>

namespace Vantor::Testing {

struct LogLine {
    google::LogSeverity severity;
    std::string text;
    bool operator==(const LogLine& other) const {
        return severity == other.severity && text == other.text;
    }
};

void PrintTo(const LogLine& line, std::ostream* out);

// Records every glog line written while it lives.
class LogCapture : public google::LogSink {
public:
    LogCapture();
    ~LogCapture() override;
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    void send(google::LogSeverity severity, const char* fullFilename, const char* baseFilename,
              int line, const struct ::tm* time, const char* message,
              size_t messageLength) override;

    const std::vector<LogLine>& Lines() const { return lines_; }
    void Clear() { lines_.clear(); }

private:
    std::vector<LogLine> lines_;
};

inline LogLine Info(std::string text) {
    return {google::GLOG_INFO, std::move(text)};
}
inline LogLine Warning(std::string text) {
    return {google::GLOG_WARNING, std::move(text)};
}
inline LogLine Error(std::string text) {
    return {google::GLOG_ERROR, std::move(text)};
}

}  // namespace Vantor::Testing
