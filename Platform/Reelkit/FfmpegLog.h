#pragma once

/// @file
/// The opt-in that routes FFmpeg's log lines to glog.

#include "Platform/VantorExport.h"

/// The platform's media processing: stream readers and FFmpeg.
namespace Vantor::Proc {

/// Opt-in for a process that owns FFmpeg's log: installs an av_log callback that hands every
/// FFmpeg line to glog, from any thread and whoever makes the FFmpeg call. Lines above
/// av_log_get_level() are dropped, as FFmpeg's own callback drops them; the rest are logged as
/// ERROR (panic, fatal, error), WARNING, INFO, VLOG(1) (verbose) or VLOG(2) (debug, trace),
/// with an "FFmpeg: " prefix. Never a FATAL line: FFmpeg's "fatal" aborts nothing.
///
/// The library never calls this itself, nor av_log_set_callback or av_log_set_level: they are
/// process-wide and belong to the host, and FFmpeg can not chain to a previous callback. Call
/// it once, early, before other threads use FFmpeg; calling it again is harmless. Throws
/// nothing.
VANTOR_API void RouteFfmpegLogToGlog();

}  // namespace Vantor::Proc
