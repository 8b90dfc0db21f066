#pragma once

// Real Matroska files written with libavformat at test time, so that suites and benchmarks
// read genuine containers without committing media or spawning the ffmpeg program.
//
// Streams carry uncompressed data, so no encoder is involved:
//   Video      gray 8-bit raw frames (16x16 unless a larger file is asked for), 25 frames/s
//   Audio      mono 16-bit PCM at 48 kHz, 40 ms a packet
//   Subtitle   SubRip text, one 40 ms cue a packet
//   Attachment a small binary file (Matroska lists attachments after the tracks, so a reader
//              reports attachment streams last, whatever their place in the list)
// Every track gets the same number of packets, one per 40 ms, so the file lasts
// packetsPerStream * 40 ms. With no packet at all FFmpeg 5.1 writes a file it can not read
// back (no cluster), which stands in for a recording that never got a frame.
// Data and None can not be stored in Matroska and are refused, as is an empty stream list.
// Files are written bit-exact: the same arguments give the same bytes.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Plinth/MediaType.h"

namespace Vantor::Testing {

// Writes `path` (replacing it) with `streams` in order and, when `vantorMetadata` is set, the
// container tag VANTOR_SPECIFIC_METADATA holding that text (empty text included).
// Throws std::runtime_error naming the path and FFmpeg's reason, std::invalid_argument for no
// streams, a stream type Matroska can not hold or a negative packet count.
void WriteMatroska(const std::string& path, const std::vector<Vantor::MediaType>& streams,
                   const std::optional<std::string>& vantorMetadata, int packetsPerStream = 3);

// Like WriteMatroska, with 1 MiB video frames and as many packets as it takes for the file to
// reach at least `minimumBytes`: a large recording for header-only cost checks. Writing
// streams the data, so a gigabyte takes about as long as the disk needs to store it.
void WriteLargeMatroska(const std::string& path, const std::vector<Vantor::MediaType>& streams,
                        const std::optional<std::string>& vantorMetadata,
                        std::int64_t minimumBytes);

}  // namespace Vantor::Testing
