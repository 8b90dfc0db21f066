// The typical road through the real components: FFmpeg reads back what the recorder wrote.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <boost/filesystem.hpp>

#include "App/IPC/LumoIntegration/FormatFile.h"
#include "Lib/Project/FolderProject.h"
#include "Lib/Project/ProjectManager.h"
#include "Lib/Project/ProjectNaming.h"
#include "Platform/Host/LocalFileManager.h"
#include "tests/Support/LogCapture.h"
#include "tests/Support/MediaFixture.h"
#include "tests/Support/TempDir.h"

namespace Vantor::Lumo {
namespace {

namespace fs = boost::filesystem;
namespace Document = Lumoreel::FormatFile;
using ::testing::IsEmpty;
using Type = ProjectManager::ProjectType;

Document::StreamInfo ToRecord(const IProject::StreamInfo& stream) {
    Document::StreamInfo record;
    record.type = stream.type;
    record.group = stream.group;
    record.name = stream.group + " stream";
    return record;
}

class ProjectEndToEndTest : public ::testing::Test {
protected:
    Testing::TempDir root;
    Testing::ScopedEnv dataHome{"XDG_DATA_HOME", root.Path() + "/data"};
    Type kind = Type::MediaContainer;
    ProjectManager projects{std::make_shared<LocalFileManager>(), [this] { return kind; }};
};

TEST_F(ProjectEndToEndTest, ARecordedContainerOpensWithItsGroups) {
    const ioPath directory = root / "recordings";
    projects.CreateProject(directory, GetDefaultProjectName(), "");
    const auto project = projects.GetCurrentProject();
    const IProject::StreamInfo screen = project->AddStream(MediaType::Video, "screen");
    const IProject::StreamInfo mic = project->AddStream(MediaType::Audio, "mic");
    ASSERT_EQ(screen.path, directory / "KorvelProject1.mkv");
    ASSERT_EQ(mic.index, 1);

    Testing::WriteMatroska(screen.path.utf8string(), {MediaType::Video, MediaType::Audio},
                           Document::StreamInfoToString({ToRecord(screen), ToRecord(mic)}));
    projects.Reset();
    Testing::LogCapture log;
    projects.LoadProject(screen.path);

    const IProject::Info info = projects.GetCurrentProject()->GetInfo();
    ASSERT_EQ(info.streams.size(), 2u);
    EXPECT_EQ(info.streams[0].group, "screen");
    EXPECT_EQ(info.streams[0].type, MediaType::Video);
    EXPECT_EQ(info.streams[1].group, "mic");
    EXPECT_EQ(info.streams[1].type, MediaType::Audio);
    EXPECT_EQ(info.streams[1].path, screen.path);
    EXPECT_EQ(info.version, Core::Version());
    EXPECT_THAT(log.Lines(), IsEmpty());
    EXPECT_EQ(projects.GetCurrentProject()->GetSize(),
              static_cast<std::int64_t>(fs::file_size(screen.path.utf8string())));

    // The next recording in the same directory gets the next index.
    projects.CreateProject(directory, GetDefaultProjectName(), "");
    EXPECT_EQ(projects.GetCurrentProject()->GetPath(), directory / "KorvelProject2.mkv");
}

TEST_F(ProjectEndToEndTest, AContainerWithoutTheTagOpensFromItsStreams) {
    const std::string file = root.Path() + "/plain.mkv";
    Testing::WriteMatroska(file, {MediaType::Audio, MediaType::Video, MediaType::Subtitle},
                           std::nullopt);

    projects.LoadProject(file);

    const IProject::Info info = projects.GetCurrentProject()->GetInfo();
    EXPECT_EQ(info.version, Core::Version(0));
    ASSERT_EQ(info.streams.size(), 3u);
    EXPECT_EQ(info.streams[2].type, MediaType::Subtitle);
    EXPECT_EQ(info.streams[0].pip_scale, 0.2);
}

TEST_F(ProjectEndToEndTest, WhatIsNotAProjectFailsToLoadAndIsReported) {
    const std::string junk = root.Path() + "/junk.mkv";
    Testing::WriteFile(junk, std::string(4096, '\x5a'));
    Testing::LogCapture log;

    EXPECT_ANY_THROW(projects.LoadProject(junk));
    EXPECT_ANY_THROW(projects.LoadProject(root / "missing.mkv"));

    EXPECT_EQ(projects.GetCurrentProject(), nullptr);
    ASSERT_EQ(log.Lines().size(), 2u);
    EXPECT_EQ(log.Lines()[0], Testing::Error("Vantor::Lumo::ProjectManager::LoadProject: "
                                             "Can't load project " +
                                             junk));
}

TEST_F(ProjectEndToEndTest, AFolderRecordingIsTrashedWhole) {
    kind = Type::Folder;
    projects.CreateProject(ioPath(root.Path()), "Take", "");
    const auto project = projects.GetCurrentProject();
    for (const auto& stream : {project->AddStream(MediaType::Video, "screen"),
                               project->AddStream(MediaType::Audio, "mic")}) {
        Testing::WriteMatroska(stream.path.utf8string(), {stream.type}, std::nullopt);
    }
    const std::int64_t size = project->GetSize();
    EXPECT_GT(size, 0);

    EXPECT_TRUE(projects.RemoveCurrentProject(RemoveType::MoveToTrash));

    EXPECT_FALSE(fs::exists((root / "Take1").utf8string()));
    EXPECT_TRUE(fs::exists(root.Path() + "/data/Trash/files/Take1/screen.mkv"));
    EXPECT_TRUE(fs::exists(root.Path() + "/data/Trash/info/Take1.trashinfo"));
}

}  // namespace
}  // namespace Vantor::Lumo
