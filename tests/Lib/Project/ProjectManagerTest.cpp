#include "Lib/Project/ProjectManager.h"

#include <regex>
#include <stdexcept>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <boost/exception/get_error_info.hpp>
#include <boost/filesystem.hpp>

#include "Lib/Project/FolderProject.h"
#include "Lib/Project/MediaContainerProject.h"
#include "Platform/Host/LocalFileManager.h"
#include "tests/Support/LogCapture.h"
#include "tests/Support/MockFileManager.h"
#include "tests/Support/ScriptedStreamReader.h"
#include "tests/Support/TempDir.h"

namespace Vantor::Lumo {
namespace {

namespace fs = boost::filesystem;
using ::testing::_;
using ::testing::AnyNumber;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::InSequence;
using ::testing::IsEmpty;
using ::testing::NiceMock;
using ::testing::Return;
using ::testing::StartsWith;
using Type = ProjectManager::ProjectType;

// A file manager that works on disk and lets a test watch and override its answers.
class WatchedFileManager : public NiceMock<Testing::MockFileManager> {
public:
    WatchedFileManager() {
        ON_CALL(*this, Exists(_)).WillByDefault([this](const ioPath& p) { return real.Exists(p); });
        ON_CALL(*this, CreateDirectory(_)).WillByDefault([this](const ioPath& p) {
            return real.CreateDirectory(p);
        });
        ON_CALL(*this, MoveToTrash(_)).WillByDefault([this](const ioPath& p) {
            return real.MoveToTrash(p);
        });
        ON_CALL(*this, Remove(_)).WillByDefault([this](const ioPath& p) { return real.Remove(p); });
    }
    LocalFileManager real;
};

class ProjectManagerTest : public ::testing::Test {
protected:
    ProjectManager& Manager(std::function<Type()> selector) {
        manager = std::make_unique<ProjectManager>(files, std::move(selector));
        return *manager;
    }
    static std::function<Type()> Selecting(int value) {
        return [value] { return static_cast<Type>(value); };
    }

    Testing::TempDir root;
    Testing::ScopedEnv dataHome{"XDG_DATA_HOME", root.Path() + "/data"};
    std::shared_ptr<WatchedFileManager> files = std::make_shared<WatchedFileManager>();
    std::unique_ptr<ProjectManager> manager;
    Testing::LogCapture log;
};

TEST_F(ProjectManagerTest, RefusesAnEmptyFileManager) {
    try {
        ProjectManager refused(nullptr, Selecting(0));
        FAIL() << "built";
    } catch (const std::logic_error& error) {
        EXPECT_STREQ(error.what(), "NotNull can not initialized by null");
        EXPECT_EQ(dynamic_cast<const boost::exception*>(&error), nullptr);
    }
}

TEST_F(ProjectManagerTest, MediaContainerSelectionNamesAFileWithTheExtension) {
    const ioPath directory = root / "recordings";
    EXPECT_CALL(*files, CreateDirectory(directory));
    auto& projects = Manager(Selecting(0));

    projects.CreateProject(directory, "KorvelProject", "");
    const auto first = projects.GetCurrentProject();
    EXPECT_EQ(first->GetPath(), directory / "KorvelProject1.mkv");
    EXPECT_NE(dynamic_cast<MediaContainerProject*>(first.get()), nullptr);

    Testing::WriteFile((directory / "KorvelProject1.mkv").utf8string(), "");
    projects.CreateProject(directory, "Take", ".MOV");
    EXPECT_EQ(projects.GetCurrentProject()->GetPath(), directory / "Take1.MOV");
    EXPECT_FALSE(fs::exists((directory / "Take1.MOV").utf8string()));
}

TEST_F(ProjectManagerTest, FolderSelectionMakesABareDirectoryWithTheStreamExtension) {
    auto& projects = Manager(Selecting(1));
    EXPECT_CALL(*files, CreateDirectory(_)).Times(0);

    projects.CreateProject(ioPath(root.Path()), "KorvelProject", "");
    const auto defaulted = projects.GetCurrentProject();
    projects.CreateProject(ioPath(root.Path()), "", ".wav");
    const auto unnamed = projects.GetCurrentProject();

    EXPECT_EQ(defaulted->GetPath(), root / "KorvelProject1");
    EXPECT_TRUE(fs::is_directory((root / "KorvelProject1").utf8string()));
    EXPECT_EQ(defaulted->AddStream(MediaType::Video, "screen").path,
              root / "KorvelProject1/screen.mkv");
    // The empty name is kept: the index alone names the folder, counting past "KorvelProject1".
    EXPECT_EQ(unnamed->GetPath(), root / "2");
    EXPECT_EQ(unnamed->AddStream(MediaType::Audio, "mic").path, root / "2/mic.wav");
}

TEST_F(ProjectManagerTest, OtherSelectionsMakeNothingAfterPreparingTheDirectory) {
    int selection = 1;
    auto& projects = Manager([&selection] { return static_cast<Type>(selection); });
    projects.CreateProject(root / "a", "P", "");
    const auto current = projects.GetCurrentProject();

    selection = 2;
    projects.CreateProject(root / "b", "P", "");

    EXPECT_EQ(projects.GetCurrentProject(), current);
    EXPECT_TRUE(fs::is_directory((root / "b").utf8string()));
    EXPECT_TRUE(fs::is_empty((root / "b").utf8string()));
}

TEST_F(ProjectManagerTest, AnEmptySelectorThrowsAfterTheDirectoryStep) {
    auto& projects = Manager(nullptr);
    InSequence order;
    EXPECT_CALL(*files, Exists(root / "new"));
    EXPECT_CALL(*files, CreateDirectory(root / "new"));

    EXPECT_THROW(projects.CreateProject(root / "new", "P", ""), std::bad_function_call);
    EXPECT_EQ(projects.GetCurrentProject(), nullptr);
}

TEST_F(ProjectManagerTest, FileSystemErrorsBecomeCanNotCreateDirForTheDirectory) {
    auto& projects = Manager(Selecting(1));
    projects.CreateProject(ioPath(root.Path()), "P", "");
    ASSERT_NE(projects.GetCurrentProject(), nullptr);
    const ioPath notADirectory = root / "file";
    Testing::WriteFile(notADirectory.utf8string(), "");
    log.Clear();

    try {
        projects.CreateProject(notADirectory, "P", "");
        FAIL() << "nothing thrown";
    } catch (const IProject::CanNotCreateDirForProjectException& error) {
        EXPECT_EQ(error.path, notADirectory);
        EXPECT_NE(boost::get_error_info<CallStackInfo>(error), nullptr);
        EXPECT_THAT(*boost::get_error_info<boost::throw_function>(error),
                    HasSubstr("ProjectManager::CreateProject"));
    }
    EXPECT_EQ(projects.GetCurrentProject(), nullptr);
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(log.Lines()[0].severity, google::GLOG_ERROR);
    EXPECT_THAT(log.Lines()[0].text, StartsWith("Vantor::Lumo::ProjectManager::CreateProject: "));
    EXPECT_THAT(log.Lines()[0].text, HasSubstr("filesystem_error"));
}

TEST_F(ProjectManagerTest, OtherCreationFailuresPassThroughAndKeepTheCurrentProject) {
    auto& projects = Manager(Selecting(0));
    projects.CreateProject(ioPath(root.Path()), "P", "");
    const auto current = projects.GetCurrentProject();

    EXPECT_CALL(*files, Exists(_)).Times(AnyNumber());
    EXPECT_CALL(*files, Exists(root / "P1.mkv")).WillOnce(Return(true));
    EXPECT_THROW(projects.CreateProject(ioPath(root.Path()), "P", ""),
                 IProject::ProjectAlreadyExistsException);
    EXPECT_THROW(projects.CreateProject(ioPath(root.Path()), "(", ""), std::regex_error);

    EXPECT_EQ(projects.GetCurrentProject(), current);
}

TEST_F(ProjectManagerTest, LoadChoosesTheKindByWhetherThePathIsADirectory) {
    Testing::ScopedStreamReaderFactory readers([](const ioPath&) {
        return Testing::ScriptedStreamReader::Make({MediaType::Video},
                                                   Testing::FakeFormatFile::WithoutMetadata());
    });
    auto& projects = Manager(Selecting(0));
    fs::create_directory((root / "KorvelProject1.mkv").utf8string());

    projects.LoadProject(root / "KorvelProject1.mkv");
    EXPECT_NE(dynamic_cast<FolderProject*>(projects.GetCurrentProject().get()), nullptr);
    EXPECT_EQ(projects.GetCurrentProject()->AddStream(MediaType::Audio, "mic").path,
              root / "KorvelProject1.mkv/mic.mkv");

    projects.LoadProject(root / "not-there-yet.mkv");
    EXPECT_NE(dynamic_cast<MediaContainerProject*>(projects.GetCurrentProject().get()), nullptr);
    EXPECT_THAT(readers.OpenedPaths(), ElementsAre(root / "not-there-yet.mkv"));
}

TEST_F(ProjectManagerTest, AFailedLoadLogsForgetsAndRethrowsTheSameException) {
    struct Unreadable : std::runtime_error {
        using std::runtime_error::runtime_error;
    };
    Testing::ScopedStreamReaderFactory readers(
        [](const ioPath&) -> boost::intrusive_ptr<Proc::IStreamReader> {
            throw Unreadable("truncated header");
        });
    auto& projects = Manager(Selecting(1));
    projects.CreateProject(ioPath(root.Path()), "P", "");
    log.Clear();

    try {
        projects.LoadProject(root / "broken.mkv");
        FAIL() << "nothing thrown";
    } catch (const Unreadable& error) {
        EXPECT_STREQ(error.what(), "truncated header");
    }
    EXPECT_EQ(projects.GetCurrentProject(), nullptr);
    EXPECT_THAT(log.Lines(), ElementsAre(Testing::Error(
                                 "Vantor::Lumo::ProjectManager::LoadProject: Can't load project " +
                                 (root / "broken.mkv").utf8string())));
}

TEST_F(ProjectManagerTest, RemoveForgetsTheProjectOnlyWhenItIsGone) {
    auto& projects = Manager(Selecting(1));
    EXPECT_TRUE(projects.RemoveCurrentProject(RemoveType::MoveToTrash));

    projects.CreateProject(ioPath(root.Path()), "P", "");
    const auto project = projects.GetCurrentProject();
    fs::remove(project->GetPath().utf8string());
    EXPECT_FALSE(projects.RemoveCurrentProject(RemoveType::FromDisk));
    EXPECT_EQ(projects.GetCurrentProject(), project);

    fs::create_directory(project->GetPath().utf8string());
    EXPECT_TRUE(projects.RemoveCurrentProject(RemoveType::MoveToTrash));
    EXPECT_EQ(projects.GetCurrentProject(), nullptr);
    EXPECT_TRUE(fs::is_directory(root.Path() + "/data/Trash/files/P1"));
}

TEST_F(ProjectManagerTest, ResetKeepsCallersSharesAlive) {
    auto& projects = Manager(Selecting(1));
    projects.CreateProject(ioPath(root.Path()), "P", "");
    const auto held = projects.GetCurrentProject();

    projects.Reset();

    EXPECT_EQ(projects.GetCurrentProject(), nullptr);
    EXPECT_EQ(held->GetPath(), root / "P1");
    EXPECT_TRUE(fs::is_directory((root / "P1").utf8string()));
}

TEST_F(ProjectManagerTest, ExtensionsClassifyPathsByteWiseIgnoringCase) {
    auto& projects = Manager(Selecting(0));
    EXPECT_THAT(projects.GetVideoProjectExtensions(), ElementsAre(".mkv"));
    EXPECT_THAT(projects.GetImageProjectExtensions(), ElementsAre(".png", ".jpeg", ".jpg", ".bmp"));

    for (const char* video : {"a.mkv", "/x/B.MKV", "c.d.MkV"}) {
        EXPECT_TRUE(projects.IsVideoProject(video)) << video;
        EXPECT_FALSE(projects.IsImageProject(video)) << video;
    }
    for (const char* image : {"a.PNG", "b.Jpeg", "c.jpg", "d.bmp"}) {
        EXPECT_TRUE(projects.IsImageProject(image)) << image;
        EXPECT_FALSE(projects.IsVideoProject(image)) << image;
    }
    for (const char* neither : {"a.mp4", "b.gif", "c.tif", "d.jpe", "KorvelProject1", "mkv",
                                "e.mkv.bak", "f.ＭＫＶ", "g.mkv "}) {
        EXPECT_FALSE(projects.IsVideoProject(neither)) << neither;
        EXPECT_FALSE(projects.IsImageProject(neither)) << neither;
    }
}

TEST_F(ProjectManagerTest, OverriddenListsChangeTheClassification) {
    struct WebmManager : ProjectManager {
        using ProjectManager::ProjectManager;
        std::vector<std::string> GetVideoProjectExtensions() const override { return {".webm"}; }
    };
    const WebmManager projects(files, Selecting(0));
    EXPECT_TRUE(projects.IsVideoProject("a.WEBM"));
    EXPECT_FALSE(projects.IsVideoProject("a.mkv"));
}

}  // namespace
}  // namespace Vantor::Lumo
