#pragma once

// The function symbols of one ELF file, for naming addresses in a call stack. Private to
// VantorPlatform.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Vantor::Detail {

class ElfSymbols {
public:
    struct Function {
        std::uintptr_t start;  // the file's own (link-time) address
        std::uint32_t size;    // 0 when the table gives none
        std::uint32_t name;    // offset in the string table
    };

    // Maps `path` and reads its full symbol table (.symtab). Leaves the table empty when the file
    // cannot be opened, is not a regular ELF file of this machine, has no .symtab (stripped), or
    // carries a build ID other than `expectedBuildId` (checked when that is not empty), which
    // means the file on disk is no longer the image in memory. Reads no debug information.
    // Throws only std::bad_alloc.
    ElfSymbols(const std::string& path, const std::string& expectedBuildId);
    ~ElfSymbols();
    ElfSymbols(const ElfSymbols&) = delete;
    ElfSymbols& operator=(const ElfSymbols&) = delete;

    // The function whose body holds `address` (a file address), or nullptr.
    const Function* Find(std::uintptr_t address) const;

    // The mangled name of a function Find returned.
    const char* Name(const Function& function) const { return names_ + function.name; }

private:
    bool Read(const std::string& expectedBuildId);

    const char* image_ = nullptr;  // the whole file, mapped read-only; names point into it
    std::size_t size_ = 0;
    const char* names_ = nullptr;      // the string table of the symbols, inside the mapping
    std::vector<Function> functions_;  // sorted by start, one per address
};

// The GNU build ID (as raw bytes) of the module the dynamic linker loaded with load bias `bias`,
// read from its notes in memory; empty when the module has none or is not loaded.
std::string LoadedBuildId(std::uintptr_t bias);

}  // namespace Vantor::Detail
