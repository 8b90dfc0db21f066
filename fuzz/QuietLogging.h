#pragma once

#include <glog/logging.h>

#include "Platform/Reelkit/FfmpegLog.h"

namespace Vantor::Fuzzing {

// Defective inputs make the library log a warning or an error each, and FFmpeg a few lines of
// its own; at thousands of inputs a second those lines would bury libFuzzer's own report, and
// log files would fill the disk. FFmpeg's lines go through glog, which drops them here.
inline void SilenceLogging() {
    FLAGS_logtostderr = true;
    FLAGS_minloglevel = google::GLOG_FATAL;
    Vantor::Proc::RouteFfmpegLogToGlog();
}

}  // namespace Vantor::Fuzzing
