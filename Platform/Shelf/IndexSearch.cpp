#include "Platform/Shelf/IndexSearch.h"

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include <boost/filesystem/exception.hpp>
#include <boost/filesystem/path.hpp>
#include <boost/system/error_code.hpp>
#include <boost/throw_exception.hpp>

namespace Vantor::Lumo {

namespace {

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

bool IsDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

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
    std::unique_ptr<DIR, DirCloser> dir(::opendir(native.c_str()));
    if (!dir) {
        if (errno == ENOENT) {
            return "1";
        }
        ThrowUnreadable(native, errno);
    }

    bool found = false;
    std::string largest;  // without leading zeros
    std::cmatch match;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir.get());
        if (entry == nullptr) {
            if (errno != 0) {
                // A partial listing could hand out an index that is already taken.
                ThrowUnreadable(native, errno);
            }
            break;
        }
        const char* name = entry->d_name;
        if (IsDotOrDotDot(name) || !ContainsDigit(name)) {
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
