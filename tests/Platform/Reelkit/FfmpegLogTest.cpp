#include "Platform/Reelkit/FfmpegLog.h"

#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>

extern "C" {
#include <libavutil/log.h>
}

#include "tests/Support/LogCapture.h"

namespace Vantor::Proc {
namespace {

using namespace ::testing;
using Testing::LogLine;

// Routes FFmpeg's log to glog for one test, then gives FFmpeg its own callback and level back.
class FfmpegLogTest : public Test {
protected:
    FfmpegLogTest() : previousLevel_(av_log_get_level()) { RouteFfmpegLogToGlog(); }
    ~FfmpegLogTest() override {
        av_log_set_callback(&av_log_default_callback);
        av_log_set_level(previousLevel_);
    }
    int previousLevel_;
};

TEST_F(FfmpegLogTest, LinesAreAssembledFromPiecesAndLoggedAtTheirSeverity) {
    av_log_set_level(AV_LOG_INFO);
    Testing::LogCapture log;
    av_log(nullptr, AV_LOG_ERROR, "header %s", "damaged");
    av_log(nullptr, AV_LOG_ERROR, " at byte %d\n", 42);
    av_log(nullptr, AV_LOG_FATAL, "cannot go on\r\n");
    av_log(nullptr, AV_LOG_WARNING | AV_LOG_C(134), "low score\n");
    av_log(nullptr, AV_LOG_INFO, "stream 0\n");
    av_log(nullptr, AV_LOG_VERBOSE, "above the level: dropped\n");
    av_log(nullptr, AV_LOG_INFO, "\n");
    EXPECT_THAT(log.Lines(), ElementsAre(Testing::Error("FFmpeg: header damaged at byte 42"),
                                         Testing::Error("FFmpeg: cannot go on"),
                                         Testing::Warning("FFmpeg: low score"),
                                         Testing::Info("FFmpeg: stream 0")));

    av_log_set_level(AV_LOG_QUIET);
    av_log(nullptr, AV_LOG_PANIC, "quiet means quiet\n");
    EXPECT_THAT(log.Lines(), SizeIs(4));
}

TEST_F(FfmpegLogTest, ThreadsNeverSpliceIntoEachOthersLines) {
    av_log_set_level(AV_LOG_WARNING);
    Testing::LogCapture log;
    constexpr int kLines = 200;
    std::vector<std::thread> threads;
    for (const char* name : {"first", "second", "third"}) {
        threads.emplace_back([name] {
            for (int line = 0; line < kLines; ++line) {
                av_log(nullptr, AV_LOG_WARNING, "%s ", name);
                av_log(nullptr, AV_LOG_WARNING, "thread, ");
                av_log(nullptr, AV_LOG_WARNING, "line %d\n", line);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    const std::vector<LogLine> lines = log.Lines();
    EXPECT_THAT(lines, SizeIs(3 * kLines));
    for (const LogLine& line : lines) {
        EXPECT_THAT(line.second, MatchesRegex("FFmpeg: (first|second|third) thread, line [0-9]+"));
    }
}

}  // namespace
}  // namespace Vantor::Proc
