#pragma once

#include <string>

namespace Vantor::Testing {

// A tmpfs mounted on an empty directory for the life of the object: a second file system for
// tests of what crosses one. Only root may mount; Mounted() tells whether it worked.
class ScopedTmpfs {
public:
    explicit ScopedTmpfs(std::string directory);
    ~ScopedTmpfs();
    ScopedTmpfs(const ScopedTmpfs&) = delete;
    ScopedTmpfs& operator=(const ScopedTmpfs&) = delete;

    bool Mounted() const { return mounted_; }
    const std::string& Path() const { return directory_; }

private:
    std::string directory_;
    bool mounted_ = false;
};

// Runs `body` in a child process with a mount namespace of its own, in which the mounts it
// makes are seen by nobody else; returns its exit status (0 to 255), or -1 when the child could
// not be made. For tests that must hide a shared place, such as the account's home, behind a
// tmpfs.
int RunInPrivateMounts(int (*body)(void*), void* argument);

}  // namespace Vantor::Testing
