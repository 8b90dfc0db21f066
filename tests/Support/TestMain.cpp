#include <glog/logging.h>
#include <gmock/gmock.h>

int main(int argc, char** argv) {
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
