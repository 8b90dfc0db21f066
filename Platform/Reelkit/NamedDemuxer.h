#pragma once

// The demuxer for a file, told by the signature in its first bytes for the containers that
// have one. Naming the demuxer skips probing, which costs more than reading a Matroska header;
// checking the signature first keeps a misnamed file from being handed to a demuxer that would
// search the whole file for its header before giving up.
// Internal to the FFmpeg stream reader.

#include <cstddef>

#include "Platform/Plinth/ioPath.h"

extern "C" {
struct AVInputFormat;
}

namespace Vantor::Proc {

// How many leading bytes NamedDemuxer needs to see (fewer when the file is shorter).
inline constexpr std::size_t kSignatureBytes = 32;

// The demuxer whose signature `head` (the file's first `size` bytes) carries: the one the
// extension of `path` names when it matches, else the first that does. Only demuxers that
// check a signature are ever named: Matroska, MP4/QuickTime, AVI, Ogg and NUT. Null when none
// matches, and the file is to be probed.
const AVInputFormat* NamedDemuxer(const ioPath& path, const unsigned char* head, std::size_t size);

}  // namespace Vantor::Proc
