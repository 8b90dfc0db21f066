// The symbol table reader behind call stacks, on this program's own file and on files that must
// yield nothing: never a crash, a hang or a wrong name.

#include "Platform/Plinth/ElfSymbols.h"

#include <elf.h>
#include <link.h>
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include <gmock/gmock.h>

#include "tests/Support/TempDir.h"

namespace Vantor::Detail {
namespace {

using namespace ::testing;

[[gnu::noinline]] int HiddenFunctionOfThisProgram(int value) {
    return value * 3 + 1;
}

// This program's load bias: its addresses minus the file's own.
std::uintptr_t ProgramBias() {
    return _r_debug.r_map->l_addr;
}

std::uintptr_t FileAddressOfHiddenFunction() {
    return reinterpret_cast<std::uintptr_t>(&HiddenFunctionOfThisProgram) - ProgramBias() + 1;
}

std::string ProgramBytes() {
    std::ifstream file("/proc/self/exe", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

TEST(ElfSymbolsTest, NamesHiddenFunctionsOfTheLoadedImageOnly) {
    const std::string buildId = LoadedBuildId(ProgramBias());
    ASSERT_FALSE(buildId.empty());

    const ElfSymbols program("/proc/self/exe", buildId);
    const ElfSymbols::Function* function = program.Find(FileAddressOfHiddenFunction());
    ASSERT_NE(function, nullptr);
    EXPECT_THAT(program.Name(*function), HasSubstr("HiddenFunctionOfThisProgram"));
    EXPECT_EQ(function->start, FileAddressOfHiddenFunction() - 1);
    EXPECT_EQ(program.Find(0), nullptr);

    // A file on disk that is no longer the image in memory names nothing.
    const ElfSymbols replaced("/proc/self/exe", std::string(buildId.size(), '\x5a'));
    EXPECT_EQ(replaced.Find(FileAddressOfHiddenFunction()), nullptr);
}

TEST(ElfSymbolsTest, FilesWithoutAUsableTableYieldNothing) {
    const Testing::TempDir root;
    const std::string program = ProgramBytes();
    ASSERT_GT(program.size(), 4096u);
    Elf64_Ehdr header;
    std::memcpy(&header, program.data(), sizeof header);

    std::string farSections = program;
    header.e_shoff = program.size() - 8;
    std::memcpy(farSections.data(), &header, sizeof header);
    std::string otherClass = program;
    otherClass[EI_CLASS] = ELFCLASS32;

    const std::pair<const char*, std::string> files[] = {
        {"empty", ""},
        {"text", "not an ELF file, only some text long enough to hold a header......"},
        {"first page", program.substr(0, 4096)},  // section headers beyond the end
        {"all but the last byte", program.substr(0, program.size() - 1)},
        {"section headers past the end", farSections},
        {"another class", otherClass},
    };
    for (const auto& [name, bytes] : files) {
        Testing::WriteFile((root / name).utf8string(), bytes);
        const ElfSymbols symbols((root / name).utf8string(), "");
        EXPECT_EQ(symbols.Find(FileAddressOfHiddenFunction()), nullptr) << name;
    }

    // Neither a FIFO without a writer nor a directory blocks or names anything.
    const std::string fifo = (root / "fifo").utf8string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(ElfSymbols(fifo, "").Find(FileAddressOfHiddenFunction()), nullptr);
    EXPECT_EQ(ElfSymbols(root.Path(), "").Find(FileAddressOfHiddenFunction()), nullptr);
    EXPECT_EQ(ElfSymbols((root / "missing").utf8string(), "").Find(1), nullptr);
}

}  // namespace
}  // namespace Vantor::Detail
