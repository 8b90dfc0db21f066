#pragma once

// The demuxer a file's extension names, trusted only when the file starts with that
// container's signature. Naming the demuxer skips probing, which costs more than reading a
// Matroska header; checking the signature first keeps a misnamed file from being handed to a
// demuxer that would search the whole file for its header before giving up.
// Internal to the FFmpeg stream reader.

#include <cstddef>

#include "Platform/Plinth/ioPath.h"

extern "C" {
struct AVInputFormat;
}

namespace Vantor::Proc {

// How many leading bytes NamedDemuxer needs to see (fewer when the file is shorter).
inline constexpr std::size_t kSignatureBytes = 32;

// The demuxer named by the extension of `path` when `head` (the file's first `size` bytes)
// carries its signature; null otherwise, and the file is to be probed. Only demuxers that
// check a signature are ever named: Matroska, MP4/QuickTime, AVI, Ogg and NUT.
const AVInputFormat* NamedDemuxer(const ioPath& path, const unsigned char* head, std::size_t size);

}  // namespace Vantor::Proc
