#include "Lib/Project/FolderProject.h"

#include <gmock/gmock.h>
#include <boost/exception/get_error_info.hpp>
#include <boost/filesystem.hpp>

#include "tests/Support/LogCapture.h"
#include "tests/Support/TempDir.h"

namespace Vantor::Lumo {
namespace {

namespace fs = boost::filesystem;
using namespace ::testing;
using Testing::Error;
using Testing::Info;

const std::string kCreate = "Vantor::Lumo::FolderProject::CreateProject: ";
const std::string kOpen = "Vantor::Lumo::FolderProject::OpenProject: ";
const std::string kRemove = "Vantor::Lumo::FolderProject::Remove: ";

// The text of the std::logic_error that `action` raises in FolderProject::`operation`, after
// checking that the message goes on with a line feed and the call stack of that operation, and
// that Boost.Exception recorded the throw site.
template <class Action>
std::string LogicErrorOf(Action action, const std::string& operation) {
    try {
        action();
    } catch (const std::logic_error& error) {
        const std::string message = error.what();
        const auto& site = dynamic_cast<const boost::exception&>(error);
        EXPECT_THAT(message.substr(message.find('\n')), HasSubstr("FolderProject::" + operation));
        EXPECT_THAT(*boost::get_error_info<boost::throw_function>(site),
                    HasSubstr("FolderProject::" + operation));
        EXPECT_THAT(*boost::get_error_info<boost::throw_file>(site), EndsWith("FolderProject.cpp"));
        return message.substr(0, message.find('\n'));
    }
    ADD_FAILURE() << "no std::logic_error thrown";
    return {};
}

class FolderProjectTest : public Test {
protected:
    Testing::TempDir root;
    Testing::ScopedEnv dataHome{"XDG_DATA_HOME", root.Path() + "/data"};
    Testing::LogCapture log;
};

TEST_F(FolderProjectTest, CreateMakesTheDirectoryAndOpensIt) {
    const ioPath path = root / "a b/ünï 'q'/KorvelProject3";
    const std::string text = path.utf8string();
    const auto project = FolderProject::CreateProject(path, ".wav");
    EXPECT_TRUE(fs::is_directory(text));
    EXPECT_EQ(project->GetPath(), path);
    EXPECT_THAT(log.Lines(), ElementsAre(Info(kCreate + "try create project '" + text + "'"),
                                         Info(kCreate + "project '" + text + "' created success"),
                                         Info(kOpen + "try open project '" + text + "'"),
                                         Info(kOpen + "project '" + text + "' opened success")));
}

TEST_F(FolderProjectTest, DescribesNoStreamsAndSizesItsFiles) {
    const auto project = FolderProject::CreateProject(root / "KorvelProject3", ".wav");
    Testing::WriteFile(root.Path() + "/KorvelProject3/screen.wav", std::string(1000, 'v'));
    Testing::WriteFile(root.Path() + "/KorvelProject3/mic.wav", std::string(24, 'a'));
    project->AddStream(MediaType::Audio, "mic");
    EXPECT_EQ(project->GetInfo().version, Core::Version());
    EXPECT_THAT(project->GetInfo().streams, IsEmpty());
    EXPECT_EQ(project->GetSize(), 1024);
}

TEST_F(FolderProjectTest, RemoveToTheTrashMovesTheWholeDirectory) {
    const ioPath path = root / "KorvelProject3";
    const auto project = FolderProject::CreateProject(path, "");
    Testing::WriteFile(path.utf8string() + "/mic.mkv", "mic");
    log.Clear();
    EXPECT_TRUE(project->Remove(RemoveType::MoveToTrash));
    EXPECT_FALSE(fs::exists(path.utf8string()));
    EXPECT_EQ(Testing::ReadFile(root.Path() + "/data/Trash/files/KorvelProject3/mic.mkv"), "mic");
    EXPECT_EQ(project->GetPath(), path);
    EXPECT_THAT(log.Lines(), ElementsAre(Info(kRemove + "remove (move to trash) project '" +
                                              path.utf8string() + "'")));
}

TEST_F(FolderProjectTest, RemoveWithAnyOtherTypeDeletesFromDisk) {
    const auto doomed = FolderProject::CreateProject(root / "doomed", "");
    log.Clear();
    EXPECT_TRUE(doomed->Remove(static_cast<RemoveType>(2)));
    EXPECT_FALSE(fs::exists((root / "doomed").utf8string()));
    EXPECT_FALSE(fs::exists(root.Path() + "/data/Trash/files/doomed"));
    EXPECT_THAT(log.Lines(), ElementsAre(Info(kRemove + "remove (from disk) project '" +
                                              (root / "doomed").utf8string() + "'")));
}

TEST_F(FolderProjectTest, RemovingAProjectAlreadyGoneFailsWithAnError) {
    const auto doomed = FolderProject::CreateProject(root / "doomed", "");
    ASSERT_TRUE(doomed->Remove(RemoveType::FromDisk));
    log.Clear();
    EXPECT_FALSE(doomed->Remove(RemoveType::FromDisk));
    const std::string gone = " project '" + (root / "doomed").utf8string() + "'";
    EXPECT_THAT(log.Lines(), ElementsAre(Info(kRemove + "remove (from disk)" + gone),
                                         Error(kRemove + "Can't remove" + gone)));
}

TEST_F(FolderProjectTest, CreateRefusesAnExistingEntryAndOpenAMissingOne) {
    const auto kept = Testing::WriteFile(root.Path() + "/file.txt", "keep me");
    for (const ioPath& path : {ioPath(root.Path()), ioPath(kept)}) {
        log.Clear();
        EXPECT_EQ(LogicErrorOf([&] { FolderProject::CreateProject(path, ""); }, "CreateProject"),
                  "Create project error: project already exists " + path.utf8string());
        EXPECT_THAT(log.Lines(),
                    ElementsAre(Info(kCreate + "try create project '" + path.utf8string() + "'"),
                                Error(kCreate + "Project already exists")));
    }
    EXPECT_EQ(Testing::ReadFile(kept), "keep me");

    const std::string missing = (root / "nowhere").utf8string();
    log.Clear();
    EXPECT_EQ(LogicErrorOf([&] { FolderProject::OpenProject(missing, ""); }, "OpenProject"),
              "Project file " + missing + " doesn't exists!");
    EXPECT_THAT(log.Lines(), ElementsAre(Info(kOpen + "try open project '" + missing + "'"),
                                         Info(kOpen + "project not exists '" + missing + "'")));
}

TEST_F(FolderProjectTest, StreamFilesAreGroupPlusExtensionForAudioAndVideoOnly) {
    struct Case {
        std::string extension;
        MediaType type;
        std::string group;
        std::string file;
    };
    for (const Case& c : {Case{"", MediaType::Video, "screen", "screen.mkv"},
                          Case{".wav", MediaType::Video, "screen", "screen.wav"},
                          Case{"", MediaType::Audio, "", ".mkv"},
                          Case{"", MediaType::Audio, "100% %1% mic", "100% %1% mic.mkv"},
                          Case{".a%%b", MediaType::Audio, "m", "m.a%b"}}) {
        const auto project = FolderProject::OpenProject(ioPath(root.Path()), c.extension);
        const IProject::StreamInfo stream = project->AddStream(c.type, c.group);
        EXPECT_EQ(stream.path, root / c.file) << c.file;
        EXPECT_TRUE(stream.type == c.type && stream.group == c.group && stream.index == 0 &&
                    stream.pip_position.empty() && stream.pip_scale == 0.0);
    }
    EXPECT_FALSE(fs::exists((root / "screen.mkv").utf8string()));
    const auto project = FolderProject::OpenProject(ioPath(root.Path()), "");
    log.Clear();
    for (const auto type : {MediaType::None, MediaType::Subtitle, static_cast<MediaType>(99)}) {
        EXPECT_EQ(LogicErrorOf([&] { project->AddStream(type, "screen"); }, "AddStream"),
                  "Project error: Unsupported stream type");
    }
    EXPECT_THAT(log.Lines(), IsEmpty());  // a caller's mistake, not trouble to report
}

}  // namespace
}  // namespace Vantor::Lumo
