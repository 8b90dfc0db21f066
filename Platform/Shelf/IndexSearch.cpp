#include "Platform/Shelf/IndexSearch.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include <boost/filesystem/exception.hpp>
#include <boost/filesystem/path.hpp>
#include <boost/system/error_code.hpp>
#include <boost/throw_exception.hpp>

#include "Platform/Plinth/Descriptors.h"

namespace Vantor::Lumo {

namespace {

// A name without any digit can never carry an index, and most directories are mostly such
// names; this keeps the regular expression off them.
bool ContainsDigit(const char* name) {
    return std::strpbrk(name, "0123456789") != nullptr;
}

bool IsDecimal(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Indices are compared as text so that no length of digits can overflow; without leading zeros,
// the longer text is the larger number and equal lengths compare lexicographically.
std::string_view WithoutLeadingZeros(std::string_view digits) {
    const auto first = digits.find_first_not_of('0');
    return first == std::string_view::npos ? std::string_view() : digits.substr(first);
}

bool IsLarger(std::string_view left, std::string_view right) {
    return left.size() != right.size() ? left.size() > right.size() : left > right;
}

// `digits` has no leading zeros; empty stands for zero.
std::string Increment(std::string digits) {
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
        if (*it != '9') {
            ++*it;
            return digits;
        }
        *it = '0';
    }
    digits.insert(digits.begin(), '1');
    return digits;
}

[[noreturn]] void ThrowUnreadable(const std::string& directory, int error) {
    BOOST_THROW_EXCEPTION(boost::filesystem::filesystem_error(
        "cannot list the directory", boost::filesystem::path(directory),
        boost::system::error_code(error, boost::system::system_category())));
}

}  // namespace

std::string GetNextAvaliableIndex(const ioPath& directory, const std::regex& pattern) {
    std::string native = directory.utf8string();
    if (native.empty()) {
        // An empty directory joined with a name gives a path relative to the working directory.
        native = ".";
    }
    // Links are followed: the directory may be reached through one.
    Detail::UniqueFd fd(::open(native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.Valid()) {
        if (errno == ENOENT) {
            return "1";
        }
        ThrowUnreadable(native, errno);
    }
    Detail::DirectoryStream dir(std::move(fd));
    if (!dir.Valid()) {
        ThrowUnreadable(native, errno);
    }

    bool found = false;
    std::string largest;  // without leading zeros
    std::cmatch match;
    for (;;) {
        const dirent* entry = dir.Next();
        if (entry == nullptr) {
            if (errno != 0) {
                // A partial listing could hand out an index that is already taken.
                ThrowUnreadable(native, errno);
            }
            break;
        }
        const char* name = entry->d_name;
        if (!ContainsDigit(name)) {
            continue;
        }
        if (!std::regex_search(name, name + std::strlen(name), match, pattern) ||
            match.size() < 2 || !match[1].matched) {
            continue;
        }
        const std::string_view index(match[1].first, static_cast<std::size_t>(match[1].length()));
        if (!IsDecimal(index)) {
            continue;
        }
        const std::string_view value = WithoutLeadingZeros(index);
        if (!found || IsLarger(value, largest)) {
            largest.assign(value);
            found = true;
        }
    }
    return found ? Increment(std::move(largest)) : "1";
}

}  // namespace Vantor::Lumo
