#pragma once

/// @file
/// MediaType, the kind of a stream.

#include <cstdint>

namespace Vantor {

/// The kind of a stream, as the stream reader reports it. The library's projects hold Video and
/// Audio streams; the other kinds appear only in what a reader reports for a container.
enum class MediaType : std::int32_t {
    None = 0,       ///< Unknown or not set.
    Video = 1,      ///< Pictures.
    Audio = 2,      ///< Sound.
    Subtitle = 3,   ///< Text or bitmaps shown over the pictures.
    Data = 4,       ///< Anything else carried as a stream, such as timecodes.
    Attachment = 5  ///< Files attached to the container, such as fonts.
};

}  // namespace Vantor
