#include "Lib/Project/FolderProject.h"

#include <stdexcept>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <boost/filesystem.hpp>
#include <boost/format.hpp>

#include "tests/Support/LogCapture.h"
#include "tests/Support/TempDir.h"

namespace Vantor::Lumo {
namespace {

namespace fs = boost::filesystem;
using ::testing::ElementsAre;
using Testing::Error;
using Testing::Info;
using ::testing::IsEmpty;
using ::testing::StartsWith;

const std::string kCreate = "Vantor::Lumo::FolderProject::CreateProject: ";
const std::string kOpen = "Vantor::Lumo::FolderProject::OpenProject: ";
const std::string kRemove = "Vantor::Lumo::FolderProject::Remove: ";

// Returns the message of the std::logic_error that `action` throws.
template <class Action>
std::string LogicErrorOf(Action action) {
    try {
        action();
    } catch (const std::logic_error& error) {
        return error.what();
    }
    ADD_FAILURE() << "no std::logic_error thrown";
    return {};
}

class FolderProjectTest : public ::testing::Test {
protected:
    Testing::TempDir root;
    Testing::ScopedEnv dataHome{"XDG_DATA_HOME", root.Path() + "/data"};
    Testing::LogCapture log;
};

TEST_F(FolderProjectTest, CreateMakesMissingParentsAndLogsEachStep) {
    const ioPath path = root / "a b/ünï 'q'/KorvelProject1";
    const std::string text = path.utf8string();

    const auto project = FolderProject::CreateProject(path, ".wav");

    EXPECT_TRUE(fs::is_directory(text));
    EXPECT_EQ(project->GetPath(), path);
    EXPECT_THAT(log.Lines(), ElementsAre(Info(kCreate + "try create project '" + text + "'"),
                                         Info(kCreate + "project '" + text + "' created success"),
                                         Info(kOpen + "try open project '" + text + "'"),
                                         Info(kOpen + "project '" + text + "' opened success")));
}

TEST_F(FolderProjectTest, CreateRefusesAnyExistingEntryAndTouchesNothing) {
    const ioPath directory = root / "existing";
    const ioPath file = root / "file.txt";
    fs::create_directory(directory.utf8string());
    Testing::WriteFile(file.utf8string(), "keep me");

    for (const ioPath& path : {directory, file}) {
        log.Clear();
        const std::string message = LogicErrorOf([&] { FolderProject::CreateProject(path, ""); });
        EXPECT_THAT(message, StartsWith("Create project error: project already exists " +
                                        path.utf8string() + "\n"));
        EXPECT_THAT(log.Lines(),
                    ElementsAre(Info(kCreate + "try create project '" + path.utf8string() + "'"),
                                Error(kCreate + "Project already exists")));
    }
    EXPECT_EQ(Testing::ReadFile(file.utf8string()), "keep me");
}

TEST_F(FolderProjectTest, OpenMissingPathFailsWithInfoLineOnly) {
    const ioPath path = root / "nowhere";
    const std::string text = path.utf8string();

    const std::string message = LogicErrorOf([&] { FolderProject::OpenProject(path, ""); });

    EXPECT_THAT(message, StartsWith("Project file " + text + " doesn't exists!\n"));
    EXPECT_GT(message.size(), ("Project file " + text + " doesn't exists!\n").size());
    EXPECT_THAT(log.Lines(), ElementsAre(Info(kOpen + "try open project '" + text + "'"),
                                         Info(kOpen + "project not exists '" + text + "'")));
}

TEST_F(FolderProjectTest, OpenAcceptsARegularFile) {
    const ioPath file = root / "plain.mkv";
    Testing::WriteFile(file.utf8string(), "1234");
    const auto project = FolderProject::OpenProject(file, "");
    EXPECT_EQ(project->GetPath(), file);
    EXPECT_EQ(project->GetSize(), 4);
}

TEST_F(FolderProjectTest, InfoStaysDefaultAndSizeCountsTheFiles) {
    const auto project = FolderProject::CreateProject(root / "p", "");
    Testing::WriteFile((root / "p/screen.mkv").utf8string(), std::string(1000, 'v'));
    Testing::WriteFile((root / "p/mic.mkv").utf8string(), std::string(24, 'a'));
    project->AddStream(MediaType::Video, "screen");
    project->AddStream(MediaType::Audio, "mic");

    const IProject::Info info = project->GetInfo();
    EXPECT_EQ(info.version, Core::Version());
    EXPECT_THAT(info.streams, IsEmpty());
    EXPECT_EQ(project->GetSize(), 1024);
}

TEST_F(FolderProjectTest, RemoveToTrashMovesTheDirectoryAndLogsTheKind) {
    const ioPath path = root / "KorvelProject3";
    const auto project = FolderProject::CreateProject(path, "");
    Testing::WriteFile((root / "KorvelProject3/screen.mkv").utf8string(), "frames");
    log.Clear();

    EXPECT_TRUE(project->Remove(RemoveType::MoveToTrash));

    EXPECT_FALSE(fs::exists(path.utf8string()));
    EXPECT_EQ(Testing::ReadFile(root.Path() + "/data/Trash/files/KorvelProject3/screen.mkv"),
              "frames");
    EXPECT_THAT(log.Lines(), ElementsAre(Info(kRemove + "remove (move to trash) project '" +
                                              path.utf8string() + "'")));
    EXPECT_EQ(project->GetPath(), path);
}

TEST_F(FolderProjectTest, EveryOtherRemoveTypeDeletesFromDisk) {
    for (const auto type :
         {RemoveType::FromDisk, static_cast<RemoveType>(2), static_cast<RemoveType>(-7)}) {
        const ioPath path = root / "doomed";
        const auto project = FolderProject::CreateProject(path, "");
        log.Clear();

        EXPECT_TRUE(project->Remove(type));

        EXPECT_FALSE(fs::exists(path.utf8string()));
        EXPECT_FALSE(fs::exists(root.Path() + "/data/Trash/files/doomed"));
        EXPECT_THAT(log.Lines(), ElementsAre(Info(kRemove + "remove (from disk) project '" +
                                                  path.utf8string() + "'")));
    }
}

TEST_F(FolderProjectTest, FailedRemoveReturnsFalseAfterAnErrorLine) {
    const ioPath path = root / "gone";
    const auto project = FolderProject::CreateProject(path, "");
    fs::remove(path.utf8string());
    log.Clear();

    EXPECT_FALSE(project->Remove(RemoveType::FromDisk));
    EXPECT_FALSE(project->Remove(RemoveType::MoveToTrash));

    const std::string text = path.utf8string();
    EXPECT_THAT(log.Lines(),
                ElementsAre(Info(kRemove + "remove (from disk) project '" + text + "'"),
                            Error(kRemove + "Can't remove project '" + text + "'"),
                            Info(kRemove + "remove (move to trash) project '" + text + "'"),
                            Error(kRemove + "Can't remove project '" + text + "'")));
}

TEST_F(FolderProjectTest, CopiesBehaveLikeTheOriginal) {
    const auto project = FolderProject::CreateProject(root / "original", ".wav");
    const auto& original = dynamic_cast<const FolderProject&>(*project);

    FolderProject copy(original);
    auto other = FolderProject::OpenProject(ioPath(root.Path()), "");
    auto& assigned = dynamic_cast<FolderProject&>(*other);
    assigned = original;

    for (FolderProject* candidate : {&copy, &assigned}) {
        EXPECT_EQ(candidate->GetPath(), project->GetPath());
        EXPECT_EQ(candidate->AddStream(MediaType::Audio, "mic").path,
                  project->AddStream(MediaType::Audio, "mic").path);
    }
}

TEST_F(FolderProjectTest, StreamFilesAreGroupPlusExtensionInsideTheProject) {
    const ioPath directory = root / "p";
    const auto defaulted = FolderProject::CreateProject(directory, "");
    const auto wav = FolderProject::OpenProject(directory, ".wav");

    const IProject::StreamInfo screen = defaulted->AddStream(MediaType::Video, "screen");
    EXPECT_EQ(screen.path, directory / "screen.mkv");
    EXPECT_EQ(screen.type, MediaType::Video);
    EXPECT_EQ(screen.index, 0);
    EXPECT_EQ(screen.group, "screen");
    EXPECT_EQ(screen.pip_position, "");
    EXPECT_EQ(screen.pip_scale, 0.0);

    EXPECT_EQ(defaulted->AddStream(MediaType::Audio, "mic").path, directory / "mic.mkv");
    EXPECT_EQ(wav->AddStream(MediaType::Video, "screen").path, directory / "screen.wav");
    EXPECT_EQ(wav->AddStream(MediaType::Audio, "screen").path, directory / "screen.wav");
    EXPECT_EQ(defaulted->AddStream(MediaType::Audio, "").path, directory / ".mkv");
    // The group is a format argument, never part of the template.
    EXPECT_EQ(defaulted->AddStream(MediaType::Audio, "100% %1% mic").path,
              directory / "100% %1% mic.mkv");
    EXPECT_FALSE(fs::exists((directory / "screen.mkv").utf8string()));
}

TEST_F(FolderProjectTest, PercentSignsInTheExtensionAreTemplateSyntax) {
    const ioPath directory = root / "p";
    fs::create_directory(directory.utf8string());

    EXPECT_EQ(FolderProject::OpenProject(directory, ".a%%b")->AddStream(MediaType::Audio, "m").path,
              directory / "m.a%b");
    EXPECT_THROW(FolderProject::OpenProject(directory, ".%2%")->AddStream(MediaType::Audio, "m"),
                 boost::io::format_error);
    EXPECT_THROW(FolderProject::OpenProject(directory, ".50%")->AddStream(MediaType::Audio, "m"),
                 boost::io::format_error);
}

TEST_F(FolderProjectTest, UnsupportedStreamTypesThrowWithoutLogging) {
    const auto project = FolderProject::CreateProject(root / "p", "");
    log.Clear();
    for (const auto type : {MediaType::None, MediaType::Subtitle, static_cast<MediaType>(99)}) {
        EXPECT_THAT(LogicErrorOf([&] { project->AddStream(type, "screen"); }),
                    StartsWith("Project error: Unsupported stream type\n"));
    }
    EXPECT_THAT(log.Lines(), IsEmpty());
}

}  // namespace
}  // namespace Vantor::Lumo
