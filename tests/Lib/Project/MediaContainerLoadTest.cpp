#include <stdexcept>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "App/IPC/LumoIntegration/FormatFile.h"
#include "Lib/Project/MediaContainerProject.h"
#include "tests/Support/LogCapture.h"
#include "tests/Support/MockFileManager.h"
#include "tests/Support/Printers.h"
#include "tests/Support/ScriptedStreamReader.h"

namespace Vantor::Lumo {
namespace {

using ::testing::ElementsAre;
using Testing::FakeFormatFile;
using Testing::Info;
using ::testing::IsEmpty;
using Testing::ScriptedStreamReader;
using ::testing::StrictMock;
using Testing::Warning;
namespace Document = Lumoreel::FormatFile;

const ioPath kPath("/recordings/KorvelProject3.mkv");
const Testing::LogLine kInvalid = Warning("Deprecated or invalid LRM Project.");
const Testing::LogLine kWithoutMetadata = Info("Load project without metadata");

Document::StreamInfo Record(MediaType type, std::string group, std::string pipPosition = "",
                            double pipScale = 0.2) {
    Document::StreamInfo record;
    record.type = type;
    record.group = std::move(group);
    record.name = "name of " + record.group;
    record.pip_position = std::move(pipPosition);
    record.pip_scale = pipScale;
    return record;
}

// Field by field, so that a failure names the field.
void ExpectStream(const IProject::StreamInfo& stream, MediaType type, int index,
                  const std::string& group, const std::string& pipPosition, double pipScale) {
    SCOPED_TRACE("stream " + std::to_string(index));
    EXPECT_EQ(stream.path, kPath);
    EXPECT_EQ(stream.type, type);
    EXPECT_EQ(stream.index, index);
    EXPECT_EQ(stream.group, group);
    EXPECT_EQ(stream.pip_position, pipPosition);
    EXPECT_EQ(stream.pip_scale, pipScale);
}

class MediaContainerLoadTest : public ::testing::Test {
protected:
    // Opens kPath with a fresh reader of `streams` over `formatFile` for every open.
    IProject::Info Load(std::vector<MediaType> streams,
                        boost::intrusive_ptr<FakeFormatFile> formatFile, int failStreamsFrom = -1) {
        Testing::ScopedStreamReaderFactory factory([&](const ioPath& path) {
            auto reader = ScriptedStreamReader::Make(streams, formatFile);
            reader->SetPath(path);
            reader->FailStreamsFrom(failStreamsFrom);
            return reader;
        });
        const auto project = MediaContainerProject::OpenProject(kPath, fileManager);
        EXPECT_THAT(factory.OpenedPaths(), ElementsAre(kPath));
        return project->GetInfo();
    }

    static boost::intrusive_ptr<FakeFormatFile> Document(
        const std::vector<Document::StreamInfo>& records) {
        return FakeFormatFile::WithMetadata(Document::StreamInfoToString(records));
    }

    void TearDown() override {
        // Every media object lives only for the length of the load.
        EXPECT_EQ(ScriptedStreamReader::Alive(), 0);
        EXPECT_EQ(FakeFormatFile::Alive(), 0);
    }

    // Loading never asks the file manager anything.
    std::shared_ptr<StrictMock<Testing::MockFileManager>> fileManager =
        std::make_shared<StrictMock<Testing::MockFileManager>>();
    Testing::LogCapture log;
};

TEST_F(MediaContainerLoadTest, WithoutMetadataTheReaderAloneDescribesTheFile) {
    for (auto formatFile : {FakeFormatFile::WithoutMetadata(), FakeFormatFile::WithMetadata("")}) {
        log.Clear();
        const IProject::Info info = Load({MediaType::Video, MediaType::Audio}, formatFile);
        formatFile.reset();

        EXPECT_EQ(info.version, Core::Version(0));
        ASSERT_EQ(info.streams.size(), 2u);
        ExpectStream(info.streams[0], MediaType::Video, 0, "", "", 0.2);
        ExpectStream(info.streams[1], MediaType::Audio, 1, "", "", 0.2);
        EXPECT_THAT(log.Lines(), ElementsAre(kWithoutMetadata));
    }
}

TEST_F(MediaContainerLoadTest, AFittingDocumentNamesTheGroups) {
    const IProject::Info info =
        Load({MediaType::Video, MediaType::Audio},
             Document({Record(MediaType::Video, "pip", "top-left", 0.25),
                       Record(MediaType::Audio, "mic", "ignored for audio", 0.9)}));

    EXPECT_EQ(info.version, Core::Version());
    ASSERT_EQ(info.streams.size(), 2u);
    ExpectStream(info.streams[0], MediaType::Video, 0, "pip", "top-left", 0.25);
    ExpectStream(info.streams[1], MediaType::Audio, 1, "mic", "", 0.2);
    EXPECT_THAT(log.Lines(), IsEmpty());
}

TEST_F(MediaContainerLoadTest, ADocumentThatDoesNotFitFallsBackToTheReader) {
    const std::vector<Document::StreamInfo> videoThenAudio = {Record(MediaType::Video, "screen"),
                                                              Record(MediaType::Audio, "mic")};
    struct Case {
        const char* why;
        std::vector<MediaType> streams;
        std::vector<Document::StreamInfo> records;
    };
    const std::vector<Case> cases = {
        {"types in another order", {MediaType::Audio, MediaType::Video}, videoThenAudio},
        {"more records than streams",
         {MediaType::Video, MediaType::Audio},
         {Record(MediaType::Video, "a"), Record(MediaType::Audio, "b"),
          Record(MediaType::Audio, "c")}},
        {"fewer records than streams",
         {MediaType::Video, MediaType::Audio, MediaType::Audio},
         videoThenAudio},
        {"a stream that is neither audio nor video",
         {MediaType::Video, MediaType::Audio, MediaType::Subtitle},
         {Record(MediaType::Video, "a"), Record(MediaType::Audio, "b"),
          Record(MediaType::Audio, "c")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        log.Clear();
        const IProject::Info info = Load(c.streams, Document(c.records));

        EXPECT_EQ(info.version, Core::Version(0));
        ASSERT_EQ(info.streams.size(), c.streams.size());
        for (std::size_t i = 0; i < c.streams.size(); ++i) {
            ExpectStream(info.streams[i], c.streams[i], static_cast<int>(i), "", "", 0.2);
        }
        EXPECT_THAT(log.Lines(), ElementsAre(kInvalid, kWithoutMetadata));
    }
}

TEST_F(MediaContainerLoadTest, ADefectiveDocumentIsReportedByTheReaderAndTheLoader) {
    const IProject::Info info = Load({MediaType::Video, MediaType::Audio},
                                     FakeFormatFile::WithMetadata(R"({"lrmp":{"version":"2.0"}})"));

    EXPECT_EQ(info.version, Core::Version(0));
    ASSERT_EQ(info.streams.size(), 2u);
    ExpectStream(info.streams[1], MediaType::Audio, 1, "", "", 0.2);
    EXPECT_THAT(log.Lines(), ElementsAre(kInvalid, kInvalid, kWithoutMetadata));
}

TEST_F(MediaContainerLoadTest, ADefectiveDocumentOverNoStreamsLeavesTheVersionUnset) {
    const IProject::Info info = Load({}, FakeFormatFile::WithMetadata("not json"));

    EXPECT_EQ(info.version, Core::Version());
    EXPECT_THAT(info.streams, IsEmpty());
    EXPECT_THAT(log.Lines(), ElementsAre(kInvalid));
}

TEST_F(MediaContainerLoadTest, AFailingMetadataGetterFallsBack) {
    auto formatFile = FakeFormatFile::WithMetadata("{}");
    formatFile->FailReadsWith(std::make_exception_ptr(std::runtime_error("tag unreadable")));

    const IProject::Info info = Load({MediaType::Audio}, formatFile);
    formatFile.reset();

    ASSERT_EQ(info.streams.size(), 1u);
    ExpectStream(info.streams[0], MediaType::Audio, 0, "", "", 0.2);
    EXPECT_THAT(log.Lines(), ElementsAre(kInvalid, kWithoutMetadata));
}

TEST_F(MediaContainerLoadTest, AReaderThatFailsInTheFallbackFailsTheOpen) {
    auto formatFile = Document({Record(MediaType::Video, "a"), Record(MediaType::Audio, "b")});
    EXPECT_THROW(Load({MediaType::Video, MediaType::Audio}, formatFile, 1), std::runtime_error);
    formatFile.reset();
    EXPECT_THAT(log.Lines(), ElementsAre(kInvalid, kWithoutMetadata));
}

TEST_F(MediaContainerLoadTest, AReaderThatCannotBeMadeFailsTheOpenSilently) {
    Testing::ScopedStreamReaderFactory factory(
        [](const ioPath&) -> boost::intrusive_ptr<Proc::IStreamReader> {
            throw std::invalid_argument("no such container");
        });
    try {
        MediaContainerProject::OpenProject(kPath, fileManager);
        FAIL() << "nothing thrown";
    } catch (const std::invalid_argument& error) {
        EXPECT_STREQ(error.what(), "no such container");
    }
    EXPECT_THAT(log.Lines(), IsEmpty());
}

TEST_F(MediaContainerLoadTest, StreamsAddedAfterOpeningFollowTheLoadedOnes) {
    Testing::ScopedStreamReaderFactory factory([](const ioPath&) {
        return ScriptedStreamReader::Make({MediaType::Video, MediaType::Audio, MediaType::Audio},
                                          FakeFormatFile::WithoutMetadata());
    });
    const auto project = MediaContainerProject::OpenProject(kPath, fileManager);

    const IProject::StreamInfo added = project->AddStream(MediaType::Video, "camera");

    EXPECT_EQ(added.index, 3);
    ExpectStream(added, MediaType::Video, 3, "camera", "", 0.0);
    EXPECT_EQ(project->GetInfo().streams.size(), 4u);
}

}  // namespace
}  // namespace Vantor::Lumo
