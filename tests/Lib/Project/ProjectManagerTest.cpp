#include "Lib/Project/ProjectManager.h"

#include <regex>

#include <gmock/gmock.h>
#include <boost/exception/get_error_info.hpp>
#include <boost/filesystem.hpp>

#include "Lib/Project/FolderProject.h"
#include "Lib/Project/MediaContainerProject.h"
#include "Platform/Host/LocalFileManager.h"
#include "tests/Support/LogCapture.h"
#include "tests/Support/ScriptedStreamReader.h"
#include "tests/Support/TempDir.h"

namespace Vantor::Lumo {
namespace {

namespace fs = boost::filesystem;
using namespace ::testing;
using Type = ProjectManager::ProjectType;
const std::string kLoadFailed = "Vantor::Lumo::ProjectManager::LoadProject: Can't load project ";

class ProjectManagerTest : public Test {
protected:
    Testing::TempDir root;
    Testing::ScopedEnv dataHome{"XDG_DATA_HOME", root.Path() + "/data"};
    std::shared_ptr<LocalFileManager> files = std::make_shared<LocalFileManager>();
    int selection = 0;
    ProjectManager projects{files, [this] { return static_cast<Type>(selection); }};
    Testing::LogCapture log;
};

TEST_F(ProjectManagerTest, TheSelectorChoosesTheKindOfEachNewProject) {
    const ioPath directory = root / "recordings";  // made on the way
    projects.CreateProject(directory, "KorvelProject", "");
    EXPECT_NE(dynamic_cast<MediaContainerProject*>(projects.GetCurrentProject().get()), nullptr);
    EXPECT_EQ(projects.GetCurrentProject()->GetPath(), directory / "KorvelProject1.mkv");
    projects.CreateProject(directory, "Take", ".MOV");
    EXPECT_EQ(projects.GetCurrentProject()->GetPath(), directory / "Take1.MOV");

    selection = 1;
    projects.CreateProject(directory, "", ".wav");
    EXPECT_NE(dynamic_cast<FolderProject*>(projects.GetCurrentProject().get()), nullptr);
    EXPECT_EQ(projects.GetCurrentProject()->AddStream(MediaType::Audio, "mic").path,
              directory / "1/mic.wav");  // the empty name is kept
    projects.CreateProject(directory, "KorvelProject", "");
    EXPECT_EQ(projects.GetCurrentProject()->AddStream(MediaType::Audio, "mic").path,
              directory / "KorvelProject1/mic.mkv");

    selection = 2;  // makes nothing, after preparing the directory
    const auto current = projects.GetCurrentProject();
    projects.CreateProject(root / "other", "P", "");
    EXPECT_EQ(projects.GetCurrentProject(), current);
    EXPECT_TRUE(fs::is_empty((root / "other").utf8string()));
    ProjectManager unselected(files, nullptr);
    EXPECT_THROW(unselected.CreateProject(root / "third", "P", ""), std::bad_function_call);
    EXPECT_TRUE(fs::is_directory((root / "third").utf8string()));
    EXPECT_EQ(unselected.GetCurrentProject(), nullptr);
}

TEST_F(ProjectManagerTest, FileSystemErrorsAloneAreTranslated) {
    projects.CreateProject(ioPath(root.Path()), "P", "");
    const auto current = projects.GetCurrentProject();
    EXPECT_THROW(projects.CreateProject(ioPath(root.Path()), "(", ""), std::regex_error);
    EXPECT_EQ(projects.GetCurrentProject(), current);
    log.Clear();

    const auto file = Testing::WriteFile(root.Path() + "/file", "");
    try {
        projects.CreateProject(ioPath(file), "P", "");
        ADD_FAILURE() << "nothing thrown";
    } catch (const IProject::CanNotCreateDirForProjectException& error) {
        EXPECT_EQ(error.path, ioPath(file));
        EXPECT_NE(boost::get_error_info<CallStackInfo>(error), nullptr);
        EXPECT_THAT(*boost::get_error_info<boost::throw_function>(error),
                    HasSubstr("ProjectManager::CreateProject"));
    }
    EXPECT_EQ(projects.GetCurrentProject(), nullptr);
    EXPECT_THAT(log.Lines(),
                ElementsAre(Pair(google::GLOG_ERROR,
                                 AllOf(StartsWith("Vantor::Lumo::ProjectManager::CreateProject: "),
                                       HasSubstr("filesystem_error")))));
}

TEST_F(ProjectManagerTest, LoadChoosesTheKindAndAFailedLoadForgetsAndRethrows) {
    struct Unreadable : std::runtime_error {
        Unreadable() : std::runtime_error("truncated header") {}
    };
    Testing::ScopedStreamReaderFactory readers(
        [](const ioPath& path) -> boost::intrusive_ptr<Proc::IStreamReader> {
            if (path.utf8string().find("broken") != std::string::npos) {
                throw Unreadable();
            }
            return new Testing::ScriptedStreamReader(path, {MediaType::Video},
                                                     new Testing::FakeFormatFile(std::nullopt));
        });
    fs::create_directory((root / "folder.mkv").utf8string());
    projects.LoadProject(root / "folder.mkv");
    EXPECT_EQ(projects.GetCurrentProject()->AddStream(MediaType::Audio, "mic").path,
              root / "folder.mkv/mic.mkv");
    projects.LoadProject(root / "not-there-yet.mkv");
    EXPECT_EQ(projects.GetCurrentProject()->GetInfo().streams.size(), 1u);
    log.Clear();
    EXPECT_THROW(projects.LoadProject(root / "broken.mkv"), Unreadable);
    EXPECT_EQ(projects.GetCurrentProject(), nullptr);
    EXPECT_THAT(log.Lines(),
                ElementsAre(Testing::Error(kLoadFailed + (root / "broken.mkv").utf8string())));
}

TEST_F(ProjectManagerTest, RemoveForgetsOnlyWhatIsGoneAndResetKeepsSharesAlive) {
    EXPECT_TRUE(projects.RemoveCurrentProject(RemoveType::MoveToTrash));  // nothing current
    selection = 1;
    projects.CreateProject(ioPath(root.Path()), "P", "");
    const auto project = projects.GetCurrentProject();
    fs::remove(project->GetPath().utf8string());
    EXPECT_FALSE(projects.RemoveCurrentProject(RemoveType::FromDisk));
    EXPECT_EQ(projects.GetCurrentProject(), project);
    fs::create_directory(project->GetPath().utf8string());
    EXPECT_TRUE(projects.RemoveCurrentProject(RemoveType::MoveToTrash));
    EXPECT_EQ(projects.GetCurrentProject(), nullptr);
    EXPECT_TRUE(fs::is_directory(root.Path() + "/data/Trash/files/P1"));

    projects.CreateProject(ioPath(root.Path()), "P", "");
    const auto held = projects.GetCurrentProject();
    projects.Reset();
    EXPECT_EQ(projects.GetCurrentProject(), nullptr);
    EXPECT_EQ(held->GetPath(), root / "P1");
    EXPECT_TRUE(fs::is_directory((root / "P1").utf8string()));
}

TEST_F(ProjectManagerTest, ExtensionsClassifyPathsByteWiseIgnoringCase) {
    EXPECT_THAT(projects.GetImageProjectExtensions(), ElementsAre(".png", ".jpeg", ".jpg", ".bmp"));
    for (const char* video : {"a.mkv", "/x/B.MKV", "c.d.MkV"}) {
        EXPECT_TRUE(projects.IsVideoProject(video) && !projects.IsImageProject(video)) << video;
    }
    for (const char* image : {"a.PNG", "b.Jpeg", "c.jpg", "d.bmp"}) {
        EXPECT_TRUE(projects.IsImageProject(image) && !projects.IsVideoProject(image)) << image;
    }
    for (const char* neither : {"a.mp4", "d.jpe", "mkv", "e.mkv.bak", "f.ＭＫＶ", "g.mkv "}) {
        EXPECT_FALSE(projects.IsVideoProject(neither) || projects.IsImageProject(neither))
            << neither;
    }
}

}  // namespace
}  // namespace Vantor::Lumo
