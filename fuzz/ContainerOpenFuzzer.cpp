// fuzz_container_open: arbitrary bytes as a .mkv file opened as a project.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "fuzz/ContainerOpenCheck.h"
#include "fuzz/QuietLogging.h"

namespace {

// A private directory for the one file every input is written to, removed at exit (a crash
// leaves it behind, beside the artifact that explains it).
std::string workDirectory;

void RemoveWorkDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(workDirectory, ignored);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    Vantor::Fuzzing::SilenceLogging();
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/lumo-fuzz-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data())) {
        std::perror(("fuzz_container_open: can not create a directory from " + pattern).c_str());
        std::exit(1);
    }
    workDirectory = buffer.data();
    std::atexit(&RemoveWorkDirectory);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string broken =
        Vantor::Fuzzing::CheckContainerOpen(std::string(reinterpret_cast<const char*>(data), size),
                                            Vantor::ioPath(workDirectory + "/input.mkv"));
    if (!broken.empty()) {
        std::fprintf(stderr, "fuzz_container_open: %s\n", broken.c_str());
        std::abort();
    }
    return 0;
}
