#include "Lib/Project/ProjectNaming.h"

#include <regex>

#include <gtest/gtest.h>
#include <boost/filesystem.hpp>
#include <boost/format.hpp>

#include "tests/Support/TempDir.h"

namespace Vantor::Lumo {
namespace {

namespace fs = boost::filesystem;

class ProjectNamingTest : public ::testing::Test {
protected:
    void Touch(const std::string& name) { Testing::WriteFile(root.Path() + "/" + name, ""); }
    ioPath Generate(const std::string& name, const std::string& extension) {
        return GenerateProjectPath(ioPath(root.Path()), name, extension);
    }

    Testing::TempDir root;
};

TEST_F(ProjectNamingTest, Defaults) {
    EXPECT_EQ(GetDefaultProjectExtension(), ".mkv");
    EXPECT_EQ(GetDefaultProjectName(), "KorvelProject");
    EXPECT_EQ(GenerateProjectPath(ioPath(root.Path())), root / "KorvelProject1.mkv");
    Touch("KorvelProject4.mkv");
    EXPECT_EQ(GenerateProjectPath(ioPath(root.Path())), Generate("KorvelProject", ".mkv"));
    EXPECT_EQ(GenerateProjectPath(ioPath(root.Path())), root / "KorvelProject5.mkv");
}

TEST_F(ProjectNamingTest, CollisionsAreFoundInAnyLetterCase) {
    Touch("KORVELPROJECT7.MKV");
    Touch("korvelproject2.mkv");
    EXPECT_EQ(Generate("KorvelProject", ".mkv"), root / "KorvelProject8.mkv");
}

TEST_F(ProjectNamingTest, EmptyExtensionNamesABareDirectory) {
    fs::create_directory(root.Path() + "/KorvelProject2");
    Touch("KorvelProject9.mkv");  // the unanchored pattern sees this one too
    EXPECT_EQ(Generate("KorvelProject", ""), root / "KorvelProject10");
}

TEST_F(ProjectNamingTest, EmptyNameIsNotDefaulted) {
    Touch("12.mkv");
    EXPECT_EQ(Generate("", ".mkv"), root / "13.mkv");
    EXPECT_EQ(Generate("", ""), root / "13");
}

TEST_F(ProjectNamingTest, NameIsARegularExpression) {
    Touch("aXb3.mkv");
    EXPECT_EQ(Generate("a.b", ".mkv"), root / "a.b4.mkv");
    EXPECT_THROW(Generate("take(1", ".mkv"), std::regex_error);
    EXPECT_THROW(Generate("[take", ".mkv"), std::regex_error);
}

TEST_F(ProjectNamingTest, PercentSignsAreFormatSyntax) {
    EXPECT_EQ(Generate("100%%", ".mkv"), root / "100%1.mkv");
    EXPECT_THROW(Generate("50%", ".mkv"), boost::io::format_error);
    EXPECT_THROW(Generate("%2%", ".mkv"), boost::io::format_error);
}

TEST_F(ProjectNamingTest, OnlyTheLeadingDotOfTheExtensionIsEscaped) {
    Touch("KorvelProject5.tarXgz");
    Touch("KorvelProject9Xtar.gz");
    EXPECT_EQ(Generate("KorvelProject", ".tar.gz"), root / "KorvelProject6.tar.gz");
}

TEST_F(ProjectNamingTest, NothingIsCreatedSoRepeatedCallsAgree) {
    Touch("KorvelProject1.mkv");
    const ioPath first = Generate("KorvelProject", ".mkv");
    EXPECT_EQ(Generate("KorvelProject", ".mkv"), first);
    EXPECT_FALSE(fs::exists(first.utf8string()));
    EXPECT_EQ(std::distance(fs::directory_iterator(root.Path()), fs::directory_iterator()), 1);
}

TEST_F(ProjectNamingTest, IndexSearchErrorsPropagate) {
    Touch("plain");
    EXPECT_THROW(GenerateProjectPath(root / "plain"), fs::filesystem_error);
    EXPECT_EQ(GenerateProjectPath(root / "missing"), root / "missing/KorvelProject1.mkv");
}

}  // namespace
}  // namespace Vantor::Lumo
