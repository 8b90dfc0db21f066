// GetCallStack names each frame's function, demangled, with its module and offsets, from the
// modules' symbol tables alone.

#include <algorithm>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>

#include "Lib/Project/FolderProject.h"
#include "Platform/Plinth/Exception.h"
#include "tests/Support/TempDir.h"

namespace Vantor {
namespace {

using namespace ::testing;

// " 3# function+0x1c in /path/module+0x4f21c"
const std::regex kFrameLine(R"( *\d+# (.+)\+0x[0-9a-f]+ in (/.+)\+0x[0-9a-f]+)");

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    return lines;
}

// A function of this program alone: hidden, and absent from its dynamic symbols.
[[gnu::noinline]] std::string StackOfHiddenFunction() {
    std::string stack = GetCallStack();
    stack += "";  // keeps this frame: no tail call
    return stack;
}

TEST(CallStackTest, NamesTheProgramsOwnHiddenFunctionsAndTheirModule) {
    const std::vector<std::string> lines = Lines(StackOfHiddenFunction());
    ASSERT_GE(lines.size(), 3u);
    std::smatch frame;
    ASSERT_TRUE(std::regex_match(lines[0], frame, kFrameLine)) << lines[0];
    EXPECT_EQ(frame[1], "Vantor::(anonymous namespace)::StackOfHiddenFunction()");
    EXPECT_THAT(frame[2].str(), EndsWith("/CallStackTest"));
    EXPECT_THAT(lines[0], StartsWith(" 0# "));
    EXPECT_THAT(lines[1], StartsWith(" 1# "));
    EXPECT_THAT(lines[1],
                HasSubstr("CallStackTest_NamesTheProgramsOwnHiddenFunctionsAndTheirModule_Test::"
                          "TestBody()+0x"));
}

TEST(CallStackTest, NamesLibraryFunctionsAndFallsBackToExportedNamesOfStrippedModules) {
    const Testing::TempDir root;
    std::string message;
    try {
        Lumo::FolderProject::OpenProject(root / "missing", "");
    } catch (const std::logic_error& error) {
        message = error.what();
    }
    const std::vector<std::string> lines = Lines(message);
    ASSERT_GE(lines.size(), 2u) << message;
    EXPECT_THAT(lines[0], HasSubstr("doesn't exists!"));
    const auto operation = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
        return line.find("# Vantor::Lumo::FolderProject::OpenProject(") != std::string::npos;
    });
    ASSERT_NE(operation, lines.end()) << message;
    std::smatch frame;
    ASSERT_TRUE(std::regex_match(*operation, frame, kFrameLine)) << *operation;
    EXPECT_THAT(frame[1].str(),
                StartsWith("Vantor::Lumo::FolderProject::OpenProject(Vantor::ioPath "
                           "const&, std::__cxx11::basic_string<char"));
    EXPECT_THAT(frame[2].str(), HasSubstr("/libLumoProject.so"));
    // Debian strips libc's symbol table: its exported names still come through.
    EXPECT_THAT(lines, Contains(MatchesRegex(" *[0-9]+# __libc_start_main[+]0x[0-9a-f]+ in "
                                             "/.*/libc[.]so[.]6[+]0x[0-9a-f]+")));
}

TEST(CallStackTest, ThreadsShareTheSymbolTablesSafely) {
    std::vector<std::string> firstLines(8);
    std::vector<std::thread> threads;
    for (std::string& line : firstLines) {
        threads.emplace_back([&line] { line = Lines(StackOfHiddenFunction()).at(0); });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_THAT(firstLines,
                Each(HasSubstr("# Vantor::(anonymous namespace)::StackOfHiddenFunction()+0x")));
}

}  // namespace
}  // namespace Vantor
