#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "Platform/VantorExport.h"

namespace Vantor::Core {

struct Version {
    std::array<std::int32_t, 4> parts{{-1, -1, -1, -1}};  // most significant first; -1 = absent
    Version() = default;
    explicit Version(std::int32_t p0, std::int32_t p1 = -1, std::int32_t p2 = -1,
                     std::int32_t p3 = -1)
        : parts{{p0, p1, p2, p3}} {}
};

VANTOR_API bool operator==(const Version&, const Version&);
VANTOR_API bool operator!=(const Version&, const Version&);

}  // namespace Vantor::Core

namespace Vantor::Util {

// Throws std::invalid_argument on text that is not 1-4 decimal components.
VANTOR_API Core::Version VersionFromString(const std::string& text, const std::string& separator);
// Writes the present components, padded with zeros up to minimumParts.
VANTOR_API std::string VersionToString(const Core::Version& version, int minimumParts,
                                       const std::string& separator);
VANTOR_API Core::Version ShrinkVersion(const Core::Version& version, int count);

}  // namespace Vantor::Util
