#pragma once

/// @file
/// Version numbers of up to four parts, and their text form.

#include <array>
#include <cstdint>
#include <string>

#include "Platform/VantorExport.h"

namespace Vantor::Core {

/// A version of up to four parts, most significant first; a part of -1 is absent.
struct Version {
    /// The parts, most significant first; -1 marks an absent one, and a default Version has
    /// all four absent.
    std::array<std::int32_t, 4> parts{{-1, -1, -1, -1}};
    /// The version with all four parts absent.
    Version() = default;
    /// The version `p0.p1.p2.p3`, the parts not given absent: `Version(1, 0)` is "1.0".
    explicit Version(std::int32_t p0, std::int32_t p1 = -1, std::int32_t p2 = -1,
                     std::int32_t p3 = -1)
        : parts{{p0, p1, p2, p3}} {}
};

/// True when all four parts are equal, absent ones included.
VANTOR_API bool operator==(const Version&, const Version&);
/// True when any part differs.
VANTOR_API bool operator!=(const Version&, const Version&);

}  // namespace Vantor::Core

/// The platform's utilities: versions as text, sizes on disk, the file-creation check.
namespace Vantor::Util {

/// Reads `text` as one to four decimal parts split by `separator`, such as "1.0" with ".";
/// the parts not given are absent. @throws std::invalid_argument when `text` is not one to
/// four non-negative decimal numbers that fit 32 bits, split by `separator`.
VANTOR_API Core::Version VersionFromString(const std::string& text, const std::string& separator);
/// Writes the present parts of `version` split by `separator`, padded with zeros up to
/// `minimumParts` parts: `Version(1)` with 2 and "." gives "1.0". VersionFromString reads the
/// text back. Never throws but `std::bad_alloc`.
VANTOR_API std::string VersionToString(const Core::Version& version, int minimumParts,
                                       const std::string& separator);
/// Returns `version` with only its first `count` parts kept, the others absent.
VANTOR_API Core::Version ShrinkVersion(const Core::Version& version, int count);

}  // namespace Vantor::Util
