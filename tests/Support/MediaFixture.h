#pragma once

// Real Matroska files written with libavformat at test time, so that suites and benchmarks read
// genuine containers without committing media or spawning the ffmpeg program. Streams carry
// uncompressed data, one packet per 40 ms on every track: Video as gray 8-bit raw frames
// (16x16, or 1024x1024 in a large file), Audio as mono 16-bit PCM at 48 kHz, Subtitle as SubRip
// cues. Other media types or no stream throw std::invalid_argument; FFmpeg failures throw
// std::runtime_error naming the path. The same arguments give the same bytes.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Plinth/MediaType.h"

namespace Vantor::Testing {

// Writes `path` (replacing it) with `streams` in order and, when `vantorMetadata` is set, the
// container tag VANTOR_SPECIFIC_METADATA holding that text (empty text included).
void WriteMatroska(const std::string& path, const std::vector<Vantor::MediaType>& streams,
                   const std::optional<std::string>& vantorMetadata, int packetsPerStream = 3);

// Like WriteMatroska, with 1 MiB video frames and as many packets as it takes for the file to
// reach at least `minimumBytes`: a large recording for header-only cost checks.
void WriteLargeMatroska(const std::string& path, const std::vector<Vantor::MediaType>& streams,
                        const std::optional<std::string>& vantorMetadata,
                        std::int64_t minimumBytes);

}  // namespace Vantor::Testing
