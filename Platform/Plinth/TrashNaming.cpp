// The texts of a trash entry: its name in files/ and the content of its info file.

#include <ctime>
#include <string_view>

#include "Platform/Plinth/TrashParts.h"

namespace Vantor::Core::Trash {

NameSequence::NameSequence(const std::string& name, bool isDirectory, std::size_t nameMax)
    : nameMax_(nameMax) {
    const auto dot = name.find_last_of('.');
    if (!isDirectory && dot != std::string::npos && dot > 0 && name.size() - dot <= 32) {
        stem_ = name.substr(0, dot);
        extension_ = name.substr(dot);
    } else {
        stem_ = name;
    }
}

std::string NameSequence::Candidate(long number) const {
    const std::string suffix = number <= 1 ? "" : "." + std::to_string(number);
    const std::size_t budget = nameMax_ - kInfoSuffixLength;
    std::string stem = stem_;
    const std::size_t tail = suffix.size() + extension_.size();
    if (stem.size() + tail > budget) {
        std::size_t cut = budget > tail ? budget - tail : 1;
        // Back to the first byte of the sequence the cut falls into.
        while (cut > 1 && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80) {
            --cut;
        }
        stem.resize(cut);
    }
    return stem + suffix + extension_;
}

std::string PercentEncode(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(text.size());
    for (const char character : text) {
        const auto byte = static_cast<unsigned char>(character);
        const bool unreserved =
            (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
            (byte >= '0' && byte <= '9') ||
            std::string_view("-_.!~*'()/").find(character) != std::string_view::npos;
        if (unreserved) {
            encoded += character;
        } else {
            encoded += '%';
            encoded += kHex[byte >> 4];
            encoded += kHex[byte & 0xF];
        }
    }
    return encoded;
}

std::string InfoText(const std::string& original, const std::string& deletionDate) {
    return "[Trash Info]\nPath=" + PercentEncode(original) + "\nDeletionDate=" + deletionDate +
           "\n";
}

std::string LocalDeletionDate() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

}  // namespace Vantor::Core::Trash
