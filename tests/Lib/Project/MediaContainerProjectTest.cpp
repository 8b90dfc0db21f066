#include "Lib/Project/MediaContainerProject.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <boost/exception/get_error_info.hpp>
#include <boost/filesystem.hpp>

#include "Platform/Host/LocalFileManager.h"
#include "tests/Support/LogCapture.h"
#include "tests/Support/MockFileManager.h"
#include "tests/Support/TempDir.h"

namespace Vantor::Lumo {
namespace {

namespace fs = boost::filesystem;
using ::testing::ElementsAre;
using Testing::Error;
using ::testing::HasSubstr;
using Testing::Info;
using ::testing::InSequence;
using ::testing::IsEmpty;
using ::testing::Return;
using ::testing::StrictMock;

const std::string kCreate = "Vantor::Lumo::MediaContainerProject::CreateProject: ";
const std::string kRemove = "Vantor::Lumo::MediaContainerProject::Remove: ";

class MediaContainerProjectTest : public ::testing::Test {
protected:
    // Expects `exception` from CreateProject(path) and checks what it carries.
    template <class Exception>
    void ExpectCreateFails(const ioPath& path) {
        try {
            MediaContainerProject::CreateProject(path, files);
            ADD_FAILURE() << "nothing thrown";
        } catch (const Exception& error) {
            EXPECT_EQ(error.path, path);
            EXPECT_NE(boost::get_error_info<CallStackInfo>(error), nullptr);
            EXPECT_THAT(*boost::get_error_info<boost::throw_function>(error),
                        HasSubstr("MediaContainerProject::CreateProject"));
        }
    }

    Testing::TempDir root;
    const ioPath path = root / "records/KorvelProject1.mkv";
    const ioPath directory = root / "records";
    std::shared_ptr<StrictMock<Testing::MockFileManager>> files =
        std::make_shared<StrictMock<Testing::MockFileManager>>();
    Testing::LogCapture log;
};

TEST_F(MediaContainerProjectTest, CreateRefusesAnExistingPathAfterOneQuestion) {
    EXPECT_CALL(*files, Exists(path)).WillOnce(Return(true));

    ExpectCreateFails<IProject::ProjectAlreadyExistsException>(path);

    EXPECT_THAT(log.Lines(),
                ElementsAre(Info(kCreate + "try create project '" + path.utf8string() + "'"),
                            Error(kCreate + "Project already exists")));
}

TEST_F(MediaContainerProjectTest, CreateMakesAMissingDirectoryButNotTheFile) {
    InSequence order;
    EXPECT_CALL(*files, Exists(path)).WillOnce(Return(false));
    EXPECT_CALL(*files, Exists(directory)).WillOnce(Return(false));
    EXPECT_CALL(*files, CreateDirectory(directory)).WillOnce([](const ioPath& made) {
        return fs::create_directories(made.utf8string());
    });

    const auto project = MediaContainerProject::CreateProject(path, files);

    EXPECT_EQ(project->GetPath(), path);
    EXPECT_FALSE(fs::exists(path.utf8string()));
    EXPECT_EQ(project->GetInfo().version, Core::Version());
    EXPECT_THAT(project->GetInfo().streams, IsEmpty());
    EXPECT_THAT(
        log.Lines(),
        ElementsAre(Info(kCreate + "try create project '" + path.utf8string() + "'"),
                    Info(kCreate + "project '" + path.utf8string() + "' successfully created")));
}

TEST_F(MediaContainerProjectTest, CreateInAnExistingDirectoryCreatesNoDirectory) {
    fs::create_directories(directory.utf8string());
    EXPECT_CALL(*files, Exists(path)).WillOnce(Return(false));
    EXPECT_CALL(*files, Exists(directory)).WillOnce(Return(true));

    EXPECT_NE(MediaContainerProject::CreateProject(path, files), nullptr);
}

TEST_F(MediaContainerProjectTest, CreateFailsWhenTheDirectoryCannotBeMade) {
    EXPECT_CALL(*files, Exists(path)).WillOnce(Return(false));
    EXPECT_CALL(*files, Exists(directory)).WillOnce(Return(false));
    EXPECT_CALL(*files, CreateDirectory(directory)).WillOnce(Return(false));

    ExpectCreateFails<IProject::CanNotCreateDirForProjectException>(path);

    EXPECT_EQ(log.Lines().back(),
              Error(kCreate + "can not create project path '" + path.utf8string() + "'"));
}

TEST_F(MediaContainerProjectTest, CreateFailsWhenTheDirectoryTakesNoFiles) {
    // The file manager claims success without making anything: no file can go there.
    EXPECT_CALL(*files, Exists(path)).WillOnce(Return(false));
    EXPECT_CALL(*files, Exists(directory)).WillOnce(Return(false));
    EXPECT_CALL(*files, CreateDirectory(directory)).WillOnce(Return(true));

    ExpectCreateFails<IProject::CanNotCreateProjectFileException>(path);

    EXPECT_EQ(log.Lines().back(), Error(kCreate + "can not create file in the project path '" +
                                        path.utf8string() + "'"));
}

TEST_F(MediaContainerProjectTest, StreamsAreNumberedInCallOrderAndKeptInMemory) {
    fs::create_directories(directory.utf8string());
    EXPECT_CALL(*files, Exists(path)).WillOnce(Return(false));
    EXPECT_CALL(*files, Exists(directory)).WillOnce(Return(true));
    const auto project = MediaContainerProject::CreateProject(path, files);
    log.Clear();

    const auto screen = project->AddStream(MediaType::Video, "screen");
    const auto mic = project->AddStream(MediaType::Audio, "mic");
    const auto data = project->AddStream(MediaType::Data, "anything");

    EXPECT_EQ(screen.index, 0);
    EXPECT_EQ(mic.index, 1);
    EXPECT_EQ(data.index, 2);
    EXPECT_EQ(data.type, MediaType::Data);
    for (const auto& stream : project->GetInfo().streams) {
        EXPECT_EQ(stream.path, path);
        EXPECT_EQ(stream.pip_position, "");
        EXPECT_EQ(stream.pip_scale, 0.0);
    }
    ASSERT_EQ(project->GetInfo().streams.size(), 3u);
    EXPECT_EQ(project->GetInfo().streams[1].group, "mic");
    EXPECT_THAT(log.Lines(), IsEmpty());
}

TEST_F(MediaContainerProjectTest, RemoveCallsExactlyOneDisposalAndLogsItsKind) {
    fs::create_directories(directory.utf8string());
    EXPECT_CALL(*files, Exists(path)).WillOnce(Return(false));
    EXPECT_CALL(*files, Exists(directory)).WillOnce(Return(true));
    const auto project = MediaContainerProject::CreateProject(path, files);
    const std::string quoted = "project '" + path.utf8string() + "'";

    struct Case {
        RemoveType type;
        bool trash;
        bool result;
    };
    for (const Case& c :
         {Case{RemoveType::MoveToTrash, true, true}, Case{RemoveType::FromDisk, false, true},
          Case{static_cast<RemoveType>(2), false, false},
          Case{RemoveType::MoveToTrash, true, false}}) {
        log.Clear();
        EXPECT_CALL(*files, Exists(path)).WillOnce(Return(true));
        if (c.trash) {
            EXPECT_CALL(*files, MoveToTrash(path)).WillOnce(Return(c.result));
        } else {
            EXPECT_CALL(*files, Remove(path)).WillOnce(Return(c.result));
        }

        EXPECT_EQ(project->Remove(c.type), c.result);

        std::vector<Testing::LogLine> expected = {
            Info(kRemove + "remove (" + (c.trash ? "move to trash" : "from disk") + ") " + quoted)};
        if (!c.result) {
            expected.push_back(Error(kRemove + "Can't remove " + quoted));
        }
        EXPECT_EQ(log.Lines(), expected);
        EXPECT_EQ(project->GetPath(), path);
    }

    log.Clear();
    EXPECT_CALL(*files, Exists(path)).WillOnce(Return(false));
    EXPECT_TRUE(project->Remove(RemoveType::MoveToTrash));
    EXPECT_THAT(log.Lines(), IsEmpty());
}

TEST(MediaContainerProjectOnDisk, LifecycleWithTheLocalFileManager) {
    Testing::TempDir root;
    Testing::ScopedEnv dataHome("XDG_DATA_HOME", root.Path() + "/data");
    const ioPath path = root / "new dir/ünï 'x'.mkv";
    const auto files = std::make_shared<LocalFileManager>();

    const auto project = MediaContainerProject::CreateProject(path, files);
    EXPECT_TRUE(fs::is_directory((root / "new dir").utf8string()));
    EXPECT_EQ(project->GetSize(), 0);

    Testing::WriteFile(path.utf8string(), std::string(4096, 'm'));
    EXPECT_EQ(project->GetSize(), 4096);
    EXPECT_THROW(MediaContainerProject::CreateProject(path, files),
                 IProject::ProjectAlreadyExistsException);

    EXPECT_TRUE(project->Remove(RemoveType::MoveToTrash));
    EXPECT_FALSE(fs::exists(path.utf8string()));
    EXPECT_EQ(Testing::ReadFile(root.Path() + "/data/Trash/files/ünï 'x'.mkv"),
              std::string(4096, 'm'));
    EXPECT_TRUE(project->Remove(RemoveType::FromDisk));  // already gone
}

}  // namespace
}  // namespace Vantor::Lumo
