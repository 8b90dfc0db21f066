#pragma once

#include <glog/logging.h>

namespace Vantor::Fuzzing {

// Defective inputs make the library log a warning or an error each; at thousands of inputs a
// second those lines would bury libFuzzer's own report, and log files would fill the disk.
inline void SilenceLogging() {
    FLAGS_logtostderr = true;
    FLAGS_minloglevel = google::GLOG_FATAL;
}

}  // namespace Vantor::Fuzzing
