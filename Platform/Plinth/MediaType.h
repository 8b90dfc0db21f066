#pragma once

#include <cstdint>

namespace Vantor {

enum class MediaType : std::int32_t {
    None = 0,
    Video = 1,
    Audio = 2,
    Subtitle = 3,
    Data = 4,
    Attachment = 5
};

}  // namespace Vantor
