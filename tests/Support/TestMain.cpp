#include <stdlib.h>

#include <glog/logging.h>
#include <gmock/gmock.h>

#include "tests/Support/TempDir.h"

int main(int argc, char** argv) {
    // Every test process, and every program it starts, gets a home of its own: whatever a test
    // trashes or writes under ~ lands there, never in the account's real home.
    const Vantor::Testing::TempDir home;
    ::setenv("HOME", home.Path().c_str(), 1);
    ::setenv("XDG_DATA_HOME", (home.Path() + "/.local/share").c_str(), 1);

    testing::InitGoogleMock(&argc, argv);
    google::InitGoogleLogging(argv[0]);
    // Lines reach the suites through LogCapture; keep them off disk and off the console.
    FLAGS_logtostderr = false;
    FLAGS_stderrthreshold = google::GLOG_FATAL;
    google::SetLogDestination(google::GLOG_INFO, "");
    google::SetLogDestination(google::GLOG_WARNING, "");
    google::SetLogDestination(google::GLOG_ERROR, "");
    return RUN_ALL_TESTS();
}
