#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <boost/filesystem.hpp>

#include "Platform/Plinth/RefCountable.h"
#include "Platform/Reelkit/StreamReader.h"
#include "tests/Support/LogCapture.h"
#include "tests/Support/MediaFixture.h"
#include "tests/Support/TempDir.h"

namespace {

using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;
using Vantor::MediaType;
using Vantor::Lumo::CreateStreamReader;
using Vantor::Lumo::SetStreamReaderFactory;
using Vantor::Proc::IStream;
using Vantor::Proc::IStreamReader;
using Vantor::Testing::TempDir;
using Vantor::Testing::WriteMatroska;

const std::string kDocument = R"({"lrmp":{"stream_infos":[{"group":"screen"}],"version":"1.0"}})";

std::vector<MediaType> TypesOf(const IStreamReader& reader) {
    std::vector<MediaType> types;
    for (std::uint32_t i = 0; i < reader.GetStreamCount(); ++i) {
        types.push_back(reader.GetStream(i)->GetMediaType());
    }
    return types;
}

class StreamReaderTest : public testing::Test {
protected:
    std::string Recording(const std::string& name, const std::vector<MediaType>& streams,
                          const std::optional<std::string>& metadata) {
        const std::string path = dir_.Path() + "/" + name;
        WriteMatroska(path, streams, metadata);
        return path;
    }

    TempDir dir_;
};

TEST_F(StreamReaderTest, ReadsStreamsTagAndDurationOfARecording) {
    const auto path =
        Recording("KorvelProject1.mkv", {MediaType::Video, MediaType::Audio}, kDocument);
    Vantor::Testing::LogCapture log;

    const auto reader = CreateStreamReader(path);

    EXPECT_EQ(reader->GetPath(), Vantor::ioPath(path));
    ASSERT_EQ(reader->GetStreamCount(), 2u);
    EXPECT_EQ(reader->GetStream(0)->GetIndex(), 0u);
    EXPECT_EQ(reader->GetStream(1)->GetIndex(), 1u);
    EXPECT_THAT(TypesOf(*reader), ElementsAre(MediaType::Video, MediaType::Audio));
    EXPECT_EQ(reader->GetDurationMicroseconds(), 120000);  // 3 packets of 40 ms
    EXPECT_TRUE(reader->GetFormatFile()->ExistsVantorSpecificMetadata());
    EXPECT_EQ(reader->GetFormatFile()->GetVantorSpecificMetadata(), kDocument);
    EXPECT_THAT(log.Lines(), IsEmpty());
}

TEST_F(StreamReaderTest, TellsAbsentTagFromEmptyOne) {
    const auto absent = CreateStreamReader(Recording("absent.mkv", {MediaType::Video}, {}));
    EXPECT_FALSE(absent->GetFormatFile()->ExistsVantorSpecificMetadata());
    EXPECT_EQ(absent->GetFormatFile()->GetVantorSpecificMetadata(), "");

    const auto empty = CreateStreamReader(Recording("empty.mkv", {MediaType::Video}, ""));
    EXPECT_TRUE(empty->GetFormatFile()->ExistsVantorSpecificMetadata());
    EXPECT_EQ(empty->GetFormatFile()->GetVantorSpecificMetadata(), "");
}

TEST_F(StreamReaderTest, KeepsNonAsciiTagTextByteForByte) {
    const std::string text =
        "{\"lrmp\":{\"stream_infos\":[{\"group\":\"Bildschirm \xe2\x80\x93 "
        "\xe7\x94\xbb\xe9\x9d\xa2 "
        "\xf0\x9f\x8e\xa5\",\"type\":\"video\"}],\"version\":\"1.0\"}}";
    const auto reader = CreateStreamReader(Recording("utf8.mkv", {MediaType::Video}, text));
    EXPECT_EQ(reader->GetFormatFile()->GetVantorSpecificMetadata(), text);
}

TEST_F(StreamReaderTest, MapsEveryKindOfStream) {
    const auto reader = CreateStreamReader(Recording(
        "kinds.mkv",
        {MediaType::Video, MediaType::Attachment, MediaType::Subtitle, MediaType::Audio}, {}));
    // Matroska keeps attachments apart from the tracks, after them.
    EXPECT_THAT(TypesOf(*reader), ElementsAre(MediaType::Video, MediaType::Subtitle,
                                              MediaType::Audio, MediaType::Attachment));
}

TEST_F(StreamReaderTest, OpensAwkwardNamesAndMisleadingExtensions) {
    for (const std::string name :
         {"with space 'quote' \xc3\xbc.mkv", "http:not-a-url.mkv", "UPPER.MKV",
          "matroska-inside.mp4", "matroska-inside.txt", "no-extension"}) {
        SCOPED_TRACE(name);
        const auto reader =
            CreateStreamReader(Recording(name, {MediaType::Video, MediaType::Audio}, kDocument));
        EXPECT_THAT(TypesOf(*reader), ElementsAre(MediaType::Video, MediaType::Audio));
        EXPECT_EQ(reader->GetFormatFile()->GetVantorSpecificMetadata(), kDocument);
    }
}

TEST_F(StreamReaderTest, StreamsAndFormatFileOutliveTheirReader) {
    auto reader = CreateStreamReader(Recording("a.mkv", {MediaType::Video, MediaType::Audio}, "x"));
    const boost::intrusive_ptr<IStream> audio = reader->GetStream(1);
    const auto formatFile = reader->GetFormatFile();
    reader.reset();

    EXPECT_EQ(audio->GetIndex(), 1u);
    EXPECT_EQ(audio->GetMediaType(), MediaType::Audio);
    EXPECT_EQ(formatFile->GetVantorSpecificMetadata(), "x");
}

TEST_F(StreamReaderTest, RefusesAStreamIndexPastTheCount) {
    const auto reader = CreateStreamReader(Recording("one.mkv", {MediaType::Audio}, {}));
    EXPECT_THROW(reader->GetStream(1), std::out_of_range);
}

// ---- files that are not media ---------------------------------------------------------------

void WriteRandomBytes(const std::string& path) {
    std::mt19937 random(7);
    std::string bytes(64 * 1024, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(random());
    }
    Vantor::Testing::WriteFile(path, bytes);
}

struct Unopenable {
    const char* name;
    void (*make)(const std::string& path);
};

void PrintTo(const Unopenable& file, std::ostream* out) {
    *out << file.name;
}

class UnopenableFileTest : public testing::TestWithParam<Unopenable> {};

TEST_P(UnopenableFileTest, ThrowsNamingThePathAndStaysQuiet) {
    TempDir dir;
    const std::string path = dir.Path() + "/" + GetParam().name;
    GetParam().make(path);
    Vantor::Testing::LogCapture log;
    testing::internal::CaptureStderr();

    std::string message;
    try {
        CreateStreamReader(path);
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& error) {
        message = error.what();
    }

    EXPECT_THAT(testing::internal::GetCapturedStderr(), IsEmpty());
    EXPECT_THAT(log.Lines(), IsEmpty());
    EXPECT_THAT(message, HasSubstr("'" + path + "': "));
    EXPECT_GT(message.size(), message.find("': ") + 3) << "no reason given: " << message;
}

INSTANTIATE_TEST_SUITE_P(NotMedia, UnopenableFileTest,
                         testing::Values(Unopenable{"random.mkv", &WriteRandomBytes},
                                         Unopenable{"empty.mkv",
                                                    [](const std::string& path) {
                                                        Vantor::Testing::WriteFile(path, "");
                                                    }},
                                         Unopenable{"missing.mkv", [](const std::string&) {}},
                                         Unopenable{"directory.mkv",
                                                    [](const std::string& path) {
                                                        boost::filesystem::create_directory(path);
                                                    }}),
                         [](const testing::TestParamInfo<Unopenable>& info) {
                             const std::string name = info.param.name;
                             return name.substr(0, name.find('.'));
                         });

TEST(FfmpegLogTest, ReachesTheVerboseLogOnly) {
    TempDir dir;
    const std::string path = dir.Path() + "/random.mkv";
    WriteRandomBytes(path);
    const auto verbosity = FLAGS_v;
    FLAGS_v = 1;
    Vantor::Testing::LogCapture log;
    testing::internal::CaptureStderr();

    EXPECT_THROW(CreateStreamReader(path), std::runtime_error);

    FLAGS_v = verbosity;
    EXPECT_THAT(testing::internal::GetCapturedStderr(), IsEmpty());
    ASSERT_THAT(log.Lines(), testing::Not(IsEmpty()));
    for (const auto& line : log.Lines()) {
        EXPECT_EQ(line.severity, google::GLOG_INFO);
        EXPECT_THAT(line.text, testing::StartsWith("FFmpeg: "));
    }
}

// ---- the factory seam -----------------------------------------------------------------------

class ScriptedReader final : public IStreamReader, public Vantor::RefCounted {
public:
    explicit ScriptedReader(Vantor::ioPath path) : path_(std::move(path)) {}
    Vantor::ioPath GetPath() const override { return path_; }
    boost::intrusive_ptr<Vantor::Conf::IFormatFile> GetFormatFile() const override { return {}; }
    std::uint32_t GetStreamCount() const override { return 0; }
    std::int64_t GetDurationMicroseconds() const override { return 0; }
    boost::intrusive_ptr<IStream> GetStream(std::uint32_t) const override { return {}; }

private:
    Vantor::ioPath path_;
};

class StreamReaderFactoryTest : public testing::Test {
protected:
    ~StreamReaderFactoryTest() override { SetStreamReaderFactory({}); }
};

TEST_F(StreamReaderFactoryTest, ReplacesTheReaderAndRestoresTheBuiltInOne) {
    TempDir dir;
    const std::string path = dir.Path() + "/real.mkv";
    WriteMatroska(path, {MediaType::Video}, {});

    const auto builtIn =
        SetStreamReaderFactory([](const Vantor::ioPath& path) { return new ScriptedReader(path); });
    EXPECT_NE(dynamic_cast<ScriptedReader*>(CreateStreamReader("any.mkv").get()), nullptr);

    const auto scripted = SetStreamReaderFactory({});
    EXPECT_NE(dynamic_cast<ScriptedReader*>(scripted("any.mkv").get()), nullptr);
    EXPECT_EQ(CreateStreamReader(path)->GetStreamCount(), 1u);
    // What the first replacement handed back is the working built-in reader.
    EXPECT_EQ(builtIn(path)->GetStreamCount(), 1u);
}

TEST_F(StreamReaderFactoryTest, RefusesAFactoryThatMakesNoReader) {
    SetStreamReaderFactory([](const Vantor::ioPath&) { return nullptr; });
    EXPECT_THROW(CreateStreamReader("any.mkv"), std::runtime_error);
}

}  // namespace
