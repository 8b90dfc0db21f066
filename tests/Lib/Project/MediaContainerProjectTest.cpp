#include "Lib/Project/MediaContainerProject.h"

#include <gmock/gmock.h>
#include <boost/exception/get_error_info.hpp>
#include <boost/filesystem.hpp>

#include "App/IPC/LumoIntegration/FormatFile.h"
#include "Platform/Host/LocalFileManager.h"
#include "tests/Support/LogCapture.h"
#include "tests/Support/MockFileManager.h"
#include "tests/Support/ScriptedStreamReader.h"
#include "tests/Support/TempDir.h"

namespace Vantor::Lumo {
namespace {

namespace fs = boost::filesystem;
using namespace ::testing;
using Testing::FakeFormatFile;
using Testing::LogLine;
constexpr MediaType kVideo = MediaType::Video;
constexpr MediaType kAudio = MediaType::Audio;
constexpr MediaType kSubtitle = MediaType::Subtitle;

const std::string kCreate = "Vantor::Lumo::MediaContainerProject::CreateProject: ";
const std::string kRemove = "Vantor::Lumo::MediaContainerProject::Remove: ";
const LogLine kInvalid = Testing::Warning("Deprecated or invalid LRM Project.");
const LogLine kWithoutMetadata = Testing::Info("Load project without metadata");

// Type, index, group, pip position and pip scale of each stream, in one line per stream.
std::string Describe(const IProject::Info& info) {
    std::string text = "version " + std::to_string(info.version.parts[0]);
    for (const auto& s : info.streams) {
        text += "\n" + std::to_string(int(s.type)) + " " + std::to_string(s.index) + " '" +
                s.group + "' '" + s.pip_position + "' " + std::to_string(s.pip_scale).substr(0, 4);
    }
    return text;
}

boost::intrusive_ptr<FakeFormatFile> Fitting() {  // a document for a video and an audio stream
    return new FakeFormatFile(Lumoreel::FormatFile::StreamInfoToString(
        {{kVideo, 0, "pip", "", 1, "top-left", 0.25}, {kAudio, 1, "mic", "", 1, "x", 0.9}}));
}

class MediaContainerProjectTest : public Test {
protected:
    // Opens the project with a fresh reader of `streams` over `formatFile`.
    std::shared_ptr<IProject> Open(std::vector<MediaType> streams,
                                   boost::intrusive_ptr<FakeFormatFile> formatFile,
                                   int failFrom = -1) {
        Testing::ScopedStreamReaderFactory factory([=](const ioPath& opened) {
            return new Testing::ScriptedStreamReader(opened, streams, formatFile, failFrom);
        });
        auto project = MediaContainerProject::OpenProject(path, files);
        EXPECT_THAT(factory.opened, ElementsAre(path));
        return project;
    }
    template <class Expected>
    void CreateFails(const std::string& errorLine) {
        log.Clear();
        try {
            MediaContainerProject::CreateProject(path, files);
            ADD_FAILURE() << "nothing thrown";
        } catch (const Expected& error) {  // with the call stack and the throw site recorded
            EXPECT_EQ(error.path, path);
            EXPECT_THAT(*boost::get_error_info<CallStackInfo>(error),
                        HasSubstr("MediaContainerProject::CreateProject"));
            EXPECT_THAT(*boost::get_error_info<boost::throw_function>(error),
                        HasSubstr("MediaContainerProject::CreateProject"));
            EXPECT_THAT(*boost::get_error_info<boost::throw_file>(error),
                        EndsWith("MediaContainerProject.cpp"));
            EXPECT_GT(*boost::get_error_info<boost::throw_line>(error), 0);
        }
        EXPECT_THAT(log.Lines(),
                    ElementsAre(Testing::Info(tried), Testing::Error(kCreate + errorLine)));
    }
    void TearDown() override {  // media objects live only for the length of the call using them
        EXPECT_EQ(Testing::ScriptedStreamReader::alive + FakeFormatFile::alive, 0);
    }

    Testing::TempDir root;
    const ioPath directory = root / "records";
    const ioPath path = root / "records/KorvelProject1.mkv";
    const std::string tried = kCreate + "try create project '" + path.utf8string() + "'";
    // Loading asks the file manager nothing; creating and removing ask exactly what they need.
    std::shared_ptr<StrictMock<Testing::MockFileManager>> files =
        std::make_shared<StrictMock<Testing::MockFileManager>>();
    Testing::LogCapture log;
};

TEST_F(MediaContainerProjectTest, DescriptionComesFromAFittingDocumentOrFromTheReaderAlone) {
    const std::vector<MediaType> videoAudio = {kVideo, kAudio};
    const auto fitting = Fitting();
    const std::vector<LogLine> misfit = {kInvalid, kWithoutMetadata};
    struct Case {
        std::vector<MediaType> streams;
        boost::intrusive_ptr<FakeFormatFile> formatFile;
        std::vector<LogLine> lines;
        std::string description;
    };
    const std::string fallback = "version 0\n1 0 '' '' 0.20\n2 1 '' '' 0.20";
    const std::vector<Case> cases = {
        {videoAudio, new FakeFormatFile(std::nullopt), {kWithoutMetadata}, fallback},
        {videoAudio, new FakeFormatFile(""), {kWithoutMetadata}, fallback},
        {videoAudio, fitting, {}, "version -1\n1 0 'pip' 'top-left' 0.25\n2 1 'mic' '' 0.20"},
        {{kAudio, kVideo}, fitting, misfit, "version 0\n2 0 '' '' 0.20\n1 1 '' '' 0.20"},
        {{kVideo}, fitting, misfit, "version 0\n1 0 '' '' 0.20"},
        {{kVideo, kAudio, kAudio}, fitting, misfit, fallback + "\n2 2 '' '' 0.20"},
        {{kVideo, kSubtitle}, fitting, misfit, "version 0\n1 0 '' '' 0.20\n3 1 '' '' 0.20"},
        {videoAudio, new FakeFormatFile("{}", std::make_exception_ptr(42)), misfit, fallback},
        {videoAudio, new FakeFormatFile("[1]"), {kInvalid, kInvalid, kWithoutMetadata}, fallback},
        {{}, new FakeFormatFile("[1]"), {kInvalid}, "version -1"},
    };
    for (const Case& c : cases) {
        log.Clear();
        const IProject::Info info = Open(c.streams, c.formatFile)->GetInfo();
        EXPECT_EQ(Describe(info), c.description);
        EXPECT_EQ(log.Lines(), c.lines) << c.description;
        for (const auto& stream : info.streams) {
            EXPECT_EQ(stream.path, path);
        }
    }
}

TEST_F(MediaContainerProjectTest, AReaderThatFailsFailsTheOpenWithItsOwnException) {
    EXPECT_THROW(Open({kVideo, kAudio}, Fitting(), 1), std::runtime_error);
    EXPECT_THAT(log.Lines(), ElementsAre(kInvalid, kWithoutMetadata));
    log.Clear();
    struct Unreadable : std::runtime_error {
        Unreadable() : std::runtime_error("no such container") {}
    };
    Testing::ScopedStreamReaderFactory factory(
        [](const ioPath&) -> boost::intrusive_ptr<Proc::IStreamReader> { throw Unreadable(); });
    EXPECT_THROW(MediaContainerProject::OpenProject(path, files), Unreadable);
    EXPECT_THAT(log.Lines(), IsEmpty());
}

TEST_F(MediaContainerProjectTest, CreateChecksInOrderAndMakesOnlyTheDirectory) {
    InSequence order;
    EXPECT_CALL(*files, Exists(path)).WillOnce(Return(false));
    EXPECT_CALL(*files, Exists(directory)).WillOnce(Return(false));
    EXPECT_CALL(*files, CreateDirectory(directory)).WillOnce([](const ioPath& made) {
        return fs::create_directories(made.utf8string());
    });
    const auto project = MediaContainerProject::CreateProject(path, files);
    EXPECT_TRUE(fs::is_empty(directory.utf8string()));
    EXPECT_EQ(project->GetPath(), path);
    EXPECT_THAT(log.Lines(), ElementsAre(Testing::Info(tried),
                                         Testing::Info(kCreate + "project '" + path.utf8string() +
                                                       "' successfully created")));
    // Streams are numbered in call order, whatever their type, and kept in memory.
    log.Clear();
    const IProject::Info added = {{},
                                  {project->AddStream(kVideo, "g"), project->AddStream(kAudio, "g"),
                                   project->AddStream(MediaType::Data, "g")}};
    EXPECT_EQ(added.streams[2].path, path);
    EXPECT_EQ(Describe(project->GetInfo()), Describe(added));
    EXPECT_EQ(Describe(project->GetInfo()),
              "version -1\n1 0 'g' '' 0.00\n2 1 'g' '' 0.00\n4 2 'g' '' 0.00");
    EXPECT_THAT(log.Lines(), IsEmpty());
}

TEST_F(MediaContainerProjectTest, CreateFailuresAreTypedAndCarryThePath) {
    EXPECT_CALL(*files, Exists(path)).WillOnce(Return(true));
    CreateFails<IProject::ProjectAlreadyExistsException>("Project already exists");
    EXPECT_CALL(*files, Exists(_)).Times(4).WillRepeatedly(Return(false));
    // Nothing is made either way, so no file can go there after a claimed success.
    EXPECT_CALL(*files, CreateDirectory(directory)).WillOnce(Return(false)).WillOnce(Return(true));
    const std::string quoted = " '" + path.utf8string() + "'";
    CreateFails<IProject::CanNotCreateDirForProjectException>("can not create project path" +
                                                              quoted);
    CreateFails<IProject::CanNotCreateProjectFileException>(
        "can not create file in the project path" + quoted);
}

TEST_F(MediaContainerProjectTest, RemoveCallsExactlyOneDisposalAndLogsItsKind) {
    const auto project = Open({}, new FakeFormatFile(std::nullopt));
    log.Clear();
    EXPECT_CALL(*files, Exists(path)).WillOnce(Return(false)).WillRepeatedly(Return(true));
    EXPECT_CALL(*files, MoveToTrash(path)).WillOnce(Return(true));
    EXPECT_CALL(*files, Remove(path)).WillOnce(Return(false));
    EXPECT_TRUE(project->Remove(RemoveType::FromDisk));  // nothing there to remove
    EXPECT_TRUE(project->Remove(RemoveType::MoveToTrash));
    EXPECT_FALSE(project->Remove(RemoveType(2)));  // anything but 1 deletes
    const std::string quoted = " project '" + path.utf8string() + "'";
    EXPECT_THAT(log.Lines(), ElementsAre(Testing::Info(kRemove + "remove (move to trash)" + quoted),
                                         Testing::Info(kRemove + "remove (from disk)" + quoted),
                                         Testing::Error(kRemove + "Can't remove" + quoted)));
}

class MediaContainerProjectOnDisk : public Test {
protected:
    Testing::TempDir root;
    Testing::ScopedEnv dataHome{"XDG_DATA_HOME", root.Path() + "/data"};
    const ioPath path = root / "new dir/ünï 'x'.mkv";
    const std::shared_ptr<LocalFileManager> files = std::make_shared<LocalFileManager>();
};

TEST_F(MediaContainerProjectOnDisk, CreateMakesOnlyTheDirectoryAndSizesTheFileLater) {
    const auto project = MediaContainerProject::CreateProject(path, files);
    EXPECT_TRUE(fs::is_empty((root / "new dir").utf8string()));
    EXPECT_EQ(project->GetSize(), 0);
    Testing::WriteFile(path.utf8string(), std::string(4096, 'm'));
    EXPECT_EQ(project->GetSize(), 4096);
    EXPECT_THROW(MediaContainerProject::CreateProject(path, files),
                 IProject::ProjectAlreadyExistsException);
}

TEST_F(MediaContainerProjectOnDisk, RemoveToTheTrashAndFromDisk) {
    const auto project = MediaContainerProject::CreateProject(path, files);
    Testing::WriteFile(path.utf8string(), std::string(4096, 'm'));
    EXPECT_TRUE(project->Remove(RemoveType::MoveToTrash));
    EXPECT_EQ(Testing::ReadFile(root.Path() + "/data/Trash/files/ünï 'x'.mkv"),
              std::string(4096, 'm'));
    Testing::WriteFile(path.utf8string(), "again");
    EXPECT_TRUE(project->Remove(RemoveType::FromDisk));
    EXPECT_FALSE(fs::exists(path.utf8string()));
}

}  // namespace
}  // namespace Vantor::Lumo
