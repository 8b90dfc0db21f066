#include "Platform/Plinth/Version.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>
#include <string_view>

namespace Vantor::Core {

bool operator==(const Version& left, const Version& right) {
    return left.parts == right.parts;
}

bool operator!=(const Version& left, const Version& right) {
    return !(left == right);
}

}  // namespace Vantor::Core

namespace Vantor::Util {

namespace {

constexpr int kMaxParts = 4;

std::int32_t ParseComponent(std::string_view text, const std::string& whole) {
    std::int32_t value = 0;
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, value);
    // from_chars takes a sign; a version component is plain digits only.
    if (text.empty() || text.front() == '-' || error != std::errc() || stop != end) {
        throw std::invalid_argument("not a version: \"" + whole + "\"");
    }
    return value;
}

}  // namespace

Core::Version VersionFromString(const std::string& text, const std::string& separator) {
    Core::Version version;
    std::string_view rest(text);
    int count = 0;
    while (true) {
        if (count == kMaxParts) {
            throw std::invalid_argument("not a version: \"" + text + "\"");
        }
        const auto at = separator.empty() ? std::string_view::npos : rest.find(separator);
        version.parts[count++] = ParseComponent(rest.substr(0, at), text);
        if (at == std::string_view::npos) {
            return version;
        }
        rest.remove_prefix(at + separator.size());
    }
}

std::string VersionToString(const Core::Version& version, int minimumParts,
                            const std::string& separator) {
    const int wanted = std::clamp(minimumParts, 0, kMaxParts);
    std::string text;
    for (int i = 0; i < kMaxParts; ++i) {
        const bool present = version.parts[i] >= 0;
        if (!present && i >= wanted) {
            break;
        }
        if (i > 0) {
            text += separator;
        }
        text += std::to_string(present ? version.parts[i] : 0);
    }
    return text;
}

Core::Version ShrinkVersion(const Core::Version& version, int count) {
    Core::Version shrunk;
    const int kept = std::clamp(count, 0, kMaxParts);
    std::copy_n(version.parts.begin(), kept, shrunk.parts.begin());
    return shrunk;
}

}  // namespace Vantor::Util
