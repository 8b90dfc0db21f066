#pragma once

#include <cstdlib>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>

#include <boost/filesystem.hpp>

#include "Platform/Plinth/ioPath.h"
#include "tests/Support/Printers.h"

namespace Vantor::Testing {

// A fresh directory under $TMPDIR, removed with everything in it when the object dies.
class TempDir {
public:
    TempDir() {
        const char* base = std::getenv("TMPDIR");
        path_ = std::string(base && *base ? base : "/tmp") + "/lumo-test-XXXXXX";
        if (!::mkdtemp(path_.data())) {
            throw std::runtime_error("cannot create a temporary directory " + path_);
        }
    }
    ~TempDir() {
        boost::system::error_code ignored;
        boost::filesystem::remove_all(path_, ignored);
    }
    const std::string& Path() const { return path_; }
    ioPath operator/(const std::string& name) const { return ioPath(path_ + "/" + name); }

private:
    std::string path_;
};

// Sets (or, with nullopt, unsets) an environment variable and restores it on destruction.
class ScopedEnv {
public:
    ScopedEnv(std::string name, const std::optional<std::string>& value) : name_(name) {
        if (const char* current = std::getenv(name_.c_str())) {
            previous_ = current;
        }
        value ? ::setenv(name_.c_str(), value->c_str(), 1) : ::unsetenv(name_.c_str());
    }
    ~ScopedEnv() {
        previous_ ? ::setenv(name_.c_str(), previous_->c_str(), 1) : ::unsetenv(name_.c_str());
    }

private:
    std::string name_;
    std::optional<std::string> previous_;
};

// Writes `content` to `path`, replacing the file and creating missing parent directories;
// returns the path.
inline std::string WriteFile(const std::string& path, const std::string& content) {
    boost::filesystem::create_directories(boost::filesystem::path(path).parent_path());
    if (!(std::ofstream(path, std::ios::binary) << content)) {
        throw std::runtime_error("cannot write " + path);
    }
    return path;
}

inline std::string ReadFile(const std::string& path) {
    std::ostringstream content;
    content << std::ifstream(path, std::ios::binary).rdbuf();
    return content.str();
}

// Creates `path` and its missing parents; returns the path.
inline std::string MakeDirectory(const std::string& path) {
    boost::filesystem::create_directories(path);
    return path;
}

// The names in `directory`, hidden ones included; none when it cannot be read.
inline std::set<std::string> Entries(const std::string& directory) {
    std::set<std::string> names;
    boost::system::error_code error;
    for (boost::filesystem::directory_iterator it(directory, error), end; !error && it != end;
         ++it) {
        names.insert(it->path().filename().string());
    }
    return names;
}

}  // namespace Vantor::Testing
