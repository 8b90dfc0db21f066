// fuzz_elf_symbols: arbitrary bytes as a module file whose symbol table names the frames of a
// call stack. The reader runs while an exception is being thrown, so a file it chokes on takes
// the host process down.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "Platform/Plinth/ElfSymbols.h"

namespace {

std::string workDirectory;

void RemoveWorkDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(workDirectory, ignored);
}

[[noreturn]] void Broken(const char* what) {
    std::fprintf(stderr, "fuzz_elf_symbols: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/lumo-fuzz-XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        std::perror(("fuzz_elf_symbols: can not create a directory from " + pattern).c_str());
        std::exit(1);
    }
    workDirectory = pattern;
    std::atexit(&RemoveWorkDirectory);
    return 0;
}

// The first byte chooses whether a build ID is expected (so the notes are read too); the rest
// is the file. Every address the file's own symbol values point near is looked up.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string path = workDirectory + "/module.so";
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
    const std::string buildId = (data[0] & 1) != 0 ? std::string("\x01\x02\x03\x04", 4) : "";
    const Vantor::Detail::ElfSymbols symbols(path, buildId);

    for (std::size_t at = 1; at + sizeof(std::uint32_t) <= size; at += 7) {
        std::uint32_t word = 0;
        std::memcpy(&word, data + at, sizeof word);
        for (const std::uintptr_t address : {std::uintptr_t{word}, std::uintptr_t{word} + 1,
                                             std::uintptr_t{word} - 1}) {
            const auto* function = symbols.Find(address);
            if (function == nullptr) {
                continue;
            }
            if (address < function->start ||
                (function->size != 0 && address - function->start >= function->size)) {
                Broken("Find answered a function that does not hold the address");
            }
            if (std::strlen(symbols.Name(*function)) == 0) {
                Broken("Find answered a function without a name");
            }
        }
    }
    return 0;
}
