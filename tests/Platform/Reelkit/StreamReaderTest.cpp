#include "Platform/Reelkit/StreamReader.h"

#include <algorithm>
#include <random>

#include <gmock/gmock.h>
#include <boost/filesystem.hpp>

#include "tests/Support/LogCapture.h"
#include "tests/Support/MediaFixture.h"
#include "tests/Support/TempDir.h"

namespace Vantor::Lumo {
namespace {

using namespace ::testing;
constexpr MediaType kVideo = MediaType::Video;
constexpr MediaType kAudio = MediaType::Audio;

// Not ASCII on purpose: the tag text must come back byte for byte.
const std::string kDocument =
    "{\"lrmp\":{\"stream_infos\":[{\"group\":\"\xe7\x94\xbb\xe9\x9d\xa2\"}]}}";

std::vector<MediaType> TypesOf(const Proc::IStreamReader& reader) {
    std::vector<MediaType> types;
    for (std::uint32_t i = 0; i < reader.GetStreamCount(); ++i) {
        EXPECT_EQ(reader.GetStream(i)->GetIndex(), i);
        types.push_back(reader.GetStream(i)->GetMediaType());
    }
    return types;
}

class StreamReaderTest : public Test {
protected:
    std::string Recording(const std::string& name, const std::vector<MediaType>& streams,
                          const std::optional<std::string>& metadata) {
        Testing::WriteMatroska(dir_.Path() + "/" + name, streams, metadata);
        return dir_.Path() + "/" + name;
    }
    Testing::TempDir dir_;
};

TEST_F(StreamReaderTest, ReadsStreamsTagAndDurationQuietly) {
    Testing::LogCapture log;
    // Names that could be taken for a protocol, or whose extension does not tell the format.
    for (const std::string name : {"with space 'q' \xc3\xbc.mkv", "http:x.mkv", "UPPER.MKV",
                                   "matroska-inside.mp4", "no-extension"}) {
        const auto reader = CreateStreamReader(Recording(name, {kVideo, kAudio}, kDocument));
        EXPECT_THAT(TypesOf(*reader), ElementsAre(kVideo, kAudio)) << name;
        EXPECT_EQ(reader->GetFormatFile()->GetVantorSpecificMetadata(), kDocument) << name;
    }
    const auto path = Recording("take.mkv", {kVideo, MediaType::Subtitle, kAudio}, kDocument);
    auto reader = CreateStreamReader(path);

    EXPECT_EQ(reader->GetPath(), ioPath(path));
    EXPECT_THAT(TypesOf(*reader), ElementsAre(kVideo, MediaType::Subtitle, kAudio));
    EXPECT_EQ(reader->GetDurationMicroseconds(), 120000);  // 3 packets of 40 ms
    EXPECT_THROW(reader->GetStream(3), std::out_of_range);
    // What the reader handed out stays valid without it.
    const auto formatFile = reader->GetFormatFile();
    const auto audio = reader->GetStream(2);
    reader.reset();
    EXPECT_TRUE(formatFile->ExistsVantorSpecificMetadata());
    EXPECT_EQ(formatFile->GetVantorSpecificMetadata(), kDocument);
    EXPECT_EQ(audio->GetMediaType(), kAudio);
    EXPECT_THAT(log.Lines(), IsEmpty());

    const auto absent = CreateStreamReader(Recording("absent.mkv", {kVideo}, {}))->GetFormatFile();
    const auto empty = CreateStreamReader(Recording("empty.mkv", {kVideo}, ""))->GetFormatFile();
    EXPECT_FALSE(absent->ExistsVantorSpecificMetadata());
    EXPECT_TRUE(empty->ExistsVantorSpecificMetadata());
    EXPECT_EQ(absent->GetVantorSpecificMetadata() + empty->GetVantorSpecificMetadata(), "");
}

TEST_F(StreamReaderTest, WhatIsNotMediaThrowsNamingThePathAndStaysQuiet) {
    std::mt19937 random(7);
    std::string noise(64 * 1024, '\0');
    std::generate(noise.begin(), noise.end(), [&] { return static_cast<char>(random()); });
    Testing::WriteFile(dir_.Path() + "/random.mkv", noise);
    Testing::WriteFile(dir_.Path() + "/empty.mkv", "");
    boost::filesystem::create_directory(dir_.Path() + "/directory.mkv");
    Testing::LogCapture log;
    internal::CaptureStderr();
    for (const char* name : {"random.mkv", "empty.mkv", "missing.mkv", "directory.mkv"}) {
        const std::string path = dir_.Path() + "/" + name;
        try {
            CreateStreamReader(path);
            ADD_FAILURE() << "no exception for " << name;
        } catch (const std::runtime_error& error) {
            EXPECT_THAT(error.what(), MatchesRegex(".*'" + path + "': .+")) << name;
        }
    }
    EXPECT_THAT(internal::GetCapturedStderr(), IsEmpty());
    EXPECT_THAT(log.Lines(), IsEmpty());
}

}  // namespace
}  // namespace Vantor::Lumo
