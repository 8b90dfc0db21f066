#pragma once

// The built-in stream reader behind CreateStreamReader: libavformat reads the container's
// header, the facts are copied out and the file is closed again before the reader is
// returned, so a reader holds no file, descriptor or FFmpeg object while it lives.
// Internal to VantorPlatform; callers go through CreateStreamReader.

#include <boost/intrusive_ptr.hpp>

#include "Platform/Plinth/ioPath.h"
#include "Platform/Reelkit/StreamReader.h"

namespace Vantor::Proc {

// The container-level tag that carries the maker-specific metadata text.
inline constexpr const char* kVantorSpecificMetadataTag = "VANTOR_SPECIFIC_METADATA";

// Opens `path` and reads its header only: the cost does not grow with the file's size
// (header-less formats, such as raw elementary streams, are the exception: they are probed
// for their streams within FFmpeg's default limits). A file that starts with the signature of
// a container whose demuxer checks it (Matroska, MP4/QuickTime, AVI, Ogg, NUT) is opened with
// that demuxer and probing skipped, whatever its extension says; any other file, or one whose
// header that demuxer can not read, is probed. FFmpeg is given at most the first 16 MiB of a
// file, so a damaged header is never searched to the file's end. Anything but a regular file
// (a FIFO, a device, a directory) is refused before a byte of it is read.
//
// The reader reports the streams in container order with their media types, the duration in
// microseconds (0 when the container does not tell) and the tag VANTOR_SPECIFIC_METADATA,
// whose name is matched without regard to case; in Ogg, which has tags per stream only, the
// first stream that carries it.
//
// Leaves FFmpeg's log callback and level alone: FFmpeg's lines about a bad file go wherever the
// host sends them (see RouteFfmpegLogToGlog).
//
// Throws std::runtime_error naming the path and the reason ("not a regular file", "no header
// within its first 16 MiB", or FFmpeg's) when the file is missing, unreadable, not a regular
// file, or not a container FFmpeg can read.
boost::intrusive_ptr<IStreamReader> CreateFfmpegStreamReader(const ioPath& path);

}  // namespace Vantor::Proc
