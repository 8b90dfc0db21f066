#include "tests/Support/LogCapture.h"

#include <ostream>

namespace Vantor::Testing {

void PrintTo(const LogLine& line, std::ostream* out) {
    *out << google::GetLogSeverityName(line.severity) << " \"" << line.text << "\"";
}

LogCapture::LogCapture() {
    google::AddLogSink(this);
}

LogCapture::~LogCapture() {
    google::RemoveLogSink(this);
}

void LogCapture::send(google::LogSeverity severity, const char*, const char*, int,
                      const struct ::tm*, const char* message, size_t messageLength) {
    lines_.push_back({severity, std::string(message, messageLength)});
}

}  // namespace Vantor::Testing
