// fuzz_stream_document: arbitrary bytes as the metadata text of a format file.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/QuietLogging.h"
#include "fuzz/StreamDocumentCheck.h"

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    Vantor::Fuzzing::SilenceLogging();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string broken = Vantor::Fuzzing::CheckStreamDocument(
        std::string(reinterpret_cast<const char*>(data), size));
    if (!broken.empty()) {
        std::fprintf(stderr, "fuzz_stream_document: %s\n", broken.c_str());
        std::abort();
    }
    return 0;
}
