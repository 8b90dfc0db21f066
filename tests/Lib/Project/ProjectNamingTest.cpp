#include "Lib/Project/ProjectNaming.h"

#include <regex>
#include <vector>

#include <gtest/gtest.h>
#include <boost/filesystem.hpp>
#include <boost/format.hpp>

#include "tests/Support/TempDir.h"

namespace Vantor::Lumo {
namespace {

namespace fs = boost::filesystem;

TEST(ProjectNamingTest, DefaultsNameTheNextContainer) {
    Testing::TempDir root;
    EXPECT_EQ(GenerateProjectPath(ioPath(root.Path())), root / "KorvelProject1.mkv");
    Testing::WriteFile(root.Path() + "/KorvelProject4.mkv", "");
    // Nothing is created, so repeated calls agree.
    EXPECT_EQ(GenerateProjectPath(ioPath(root.Path())), root / "KorvelProject5.mkv");
    EXPECT_EQ(GenerateProjectPath(ioPath(root.Path())), root / "KorvelProject5.mkv");
    EXPECT_EQ(std::distance(fs::directory_iterator(root.Path()), fs::directory_iterator()), 1);
    EXPECT_EQ(GenerateProjectPath(root / "missing"), root / "missing/KorvelProject1.mkv");
}

TEST(ProjectNamingTest, NameIsAPatternAndATemplateTakenAsGiven) {
    struct Case {
        std::string name, extension, expected;
        const char* why;
        std::vector<std::string> existing;
    };
    const std::vector<Case> cases = {
        {"KorvelProject", ".mkv", "KorvelProject8.mkv", "any letter case", {"KORVELPROJECT7.MKV"}},
        {"T", ".mkv", "T100000000000000000000.mkv", "past 2^64", {"T99999999999999999999.mkv"}},
        {"T", ".mkv", "T11.mkv", "leading zeros add nothing", {"T0009.mkv", "T10.mkv"}},
        {"T", ".mkv", "T1.mkv", "zero is no index in use", {"T000.mkv"}},
        {"Take", "", "Take10", "a bare directory; unanchored", {"Take2/x", "Take9.mkv"}},
        {"", ".mkv", "13.mkv", "an empty name is not defaulted", {"12.mkv"}},
        {"a.b", ".mkv", "a.b4.mkv", "the name is a regular expression", {"aXb3.mkv"}},
        {"100%%", ".mkv", "100%1.mkv", "percent signs are format syntax", {}},
        {"T", ".tar.gz", "T6.tar.gz", "only the first dot is escaped", {"T5.tarXgz", "T9Xtar.gz"}},
    };
    for (const Case& c : cases) {
        Testing::TempDir root;
        for (const auto& name : c.existing) {
            Testing::WriteFile(root.Path() + "/" + name, "");
        }
        EXPECT_EQ(GenerateProjectPath(ioPath(root.Path()), c.name, c.extension), root / c.expected)
            << c.why;
    }
}

TEST(ProjectNamingTest, FailuresPropagateAsRaised) {
    Testing::TempDir root;
    const ioPath directory(root.Path());
    EXPECT_THROW(GenerateProjectPath(directory, "take(1", ".mkv"), std::regex_error);
    EXPECT_THROW(GenerateProjectPath(directory, "50%", ".mkv"), boost::io::format_error);
    EXPECT_THROW(GenerateProjectPath(directory, "%2%", ".mkv"), boost::io::format_error);
    const auto file = Testing::WriteFile(root.Path() + "/plain", "");
    EXPECT_THROW(GenerateProjectPath(ioPath(file)), fs::filesystem_error);
}

}  // namespace
}  // namespace Vantor::Lumo
