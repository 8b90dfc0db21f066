#pragma once

#include <string>

namespace Vantor::Bench {

// A fresh directory under $TMPDIR (or /tmp) holding one benchmark's fixtures, removed with
// everything in it when the object dies.
class ScratchDirectory {
public:
    explicit ScratchDirectory(const std::string& label);
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Creates `path` (and missing parents); throws std::system_error on failure.
void MakeDirectory(const std::string& path);

// Creates or replaces `path` with `size` bytes; the bytes are a hole, so even a gigabyte costs
// no disk space. Throws std::system_error on failure.
void MakeFileOfSize(const std::string& path, long long size);

// Flushes the file system holding `path`, so that work left over from building fixtures does
// not land in the next measured fsync.
void FlushFileSystem(const std::string& path);

// The metadata document of a recording made by the application: a screen and a microphone.
std::string RecordingDocument();

}  // namespace Vantor::Bench
