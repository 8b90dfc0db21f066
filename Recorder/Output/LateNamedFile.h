#pragma once

#include <functional>
#include <string>

namespace Vantor::Lumo::Recorder {

// Answers the next name to try once `taken` turned out to be someone else's; throws when
// there is none.
using NextName = std::function<std::string(const std::string& taken)>;

// A new file that appears under its name only once it is worth keeping, so that a recording
// killed early leaves nothing instead of a file nothing can open. It is made unnamed in the
// directory of `path` (O_TMPFILE) and linked into place by Name, which never replaces anything:
// where its name was taken meanwhile, it takes the next one. File systems without unnamed files
// get the old way: the file is made under its name at once (O_EXCL), and Discard removes it.
class LateNamedFile {
public:
    // Throws std::runtime_error naming the path when no file can be made there.
    LateNamedFile(const std::string& path, NextName nextName);
    // Closes the descriptor; an unnamed file is gone with it.
    ~LateNamedFile();
    LateNamedFile(const LateNamedFile&) = delete;
    LateNamedFile& operator=(const LateNamedFile&) = delete;

    // Where the file is written; stays open, and the same, across Name.
    int Descriptor() const { return fd_; }
    // Its name, or the one it will try first.
    const std::string& Path() const { return path_; }
    bool Named() const { return named_; }
    // Gives the file its name; true at once when it has one. Throws std::runtime_error when
    // linking fails for another reason than a taken name, or NextName gives up.
    void Name();
    // Removes the file: an unnamed one is never seen; a named one is unlinked only where this
    // object made it under that name.
    void Discard();

private:
    std::string path_;
    NextName nextName_;
    int fd_ = -1;
    bool named_ = false;
};

}  // namespace Vantor::Lumo::Recorder
