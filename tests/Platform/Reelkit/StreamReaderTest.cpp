#include "Platform/Reelkit/StreamReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

#include <gmock/gmock.h>
#include <boost/filesystem.hpp>

extern "C" {
#include <libavutil/log.h>
}

#include "Lib/Project/ProjectManager.h"
#include "Platform/Host/LocalFileManager.h"
#include "tests/Support/ChildProcess.h"
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

// Stands for a host that owns FFmpeg's log: its own callback and level for as long as it lives,
// FFmpeg's defaults again afterwards. The callback counts the host's own line.
class HostFfmpegLog {
public:
    static constexpr int kLevel = AV_LOG_DEBUG + 8;  // no level FFmpeg itself would pick
    static constexpr const char* kOwnLine = "the host's own line\n";
    static inline std::atomic<int> ownLines{0};

    HostFfmpegLog() : previousLevel_(av_log_get_level()) {
        av_log_set_callback([](void*, int, const char* format, va_list) {
            ownLines += std::strcmp(format, kOwnLine) == 0;
        });
        av_log_set_level(kLevel);
    }
    ~HostFfmpegLog() {
        av_log_set_callback(&av_log_default_callback);
        av_log_set_level(previousLevel_);
    }

private:
    int previousLevel_;
};

// Bytes this process has read from files so far.
std::int64_t BytesRead() {
    std::ifstream io("/proc/self/io");
    std::string key;
    std::int64_t value = 0;
    while (io >> key >> value) {
        if (key == "rchar:") {
            return value;
        }
    }
    return -1;
}

// Runs the ffmpeg program with `args` (split at spaces) writing `output`; true when it
// succeeded.
bool RunFfmpeg(const std::string& args, const std::string& output) {
    std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-loglevel", "error", "-y"};
    std::istringstream words(args);
    argv.insert(argv.end(), std::istream_iterator<std::string>(words), {});
    argv.push_back(output);
    const auto exit = Testing::ChildProcess(argv).WaitFor(60);
    return exit && exit->status == 0;
}

// `bytes` of noise, the same for the same seed.
std::string Noise(std::size_t bytes, unsigned seed) {
    std::mt19937 random(seed);
    std::string noise(bytes, '\0');
    std::generate(noise.begin(), noise.end(), [&] { return static_cast<char>(random()); });
    return noise;
}

class StreamReaderTest : public Test {
protected:
    std::string Recording(const std::string& name, const std::vector<MediaType>& streams,
                          const std::optional<std::string>& metadata) {
        Testing::WriteMatroska(dir_.Path() + "/" + name, streams, metadata);
        return dir_.Path() + "/" + name;
    }
    Testing::TempDir dir_;
    HostFfmpegLog host_;
};

TEST_F(StreamReaderTest, ReadsStreamsTagAndDurationQuietly) {
    Testing::LogCapture log;
    // Names that could be taken for a protocol, or whose extension does not tell the format.
    for (const std::string name :
         {"with space 'q' \xc3\xbc.mkv", "http:x.mkv", "UPPER.MKV", "matroska-inside.mp4",
          "matroska-inside.nut", "matroska-inside.ogg", "matroska-inside.avi", "no-extension"}) {
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

TEST_F(StreamReaderTest, WhatIsNotMediaThrowsNamingThePathAndLogsNothing) {
    Testing::WriteFile(dir_.Path() + "/random.mkv", Noise(64 * 1024, 7));
    Testing::WriteFile(dir_.Path() + "/empty.mkv", "");
    boost::filesystem::create_directory(dir_.Path() + "/directory.mkv");
    Testing::LogCapture log;
    for (const char* name : {"random.mkv", "empty.mkv", "missing.mkv", "directory.mkv"}) {
        const std::string path = dir_.Path() + "/" + name;
        try {
            CreateStreamReader(path);
            ADD_FAILURE() << "no exception for " << name;
        } catch (const std::runtime_error& error) {
            EXPECT_THAT(error.what(), MatchesRegex(".*'" + path + "': .+")) << name;
        }
    }
    EXPECT_THAT(log.Lines(), IsEmpty());
}

TEST_F(StreamReaderTest, TheHostsFfmpegLogSettingsSurviveGoodAndDamagedFiles) {
    const std::string good = Recording("good.mkv", {kVideo, kAudio}, kDocument);
    const std::string whole = Testing::ReadFile(good);
    const std::string truncated =
        Testing::WriteFile(dir_.Path() + "/truncated.mkv", whole.substr(0, whole.size() / 3));
    const std::string cut =
        Testing::WriteFile(dir_.Path() + "/cut.mkv", whole.substr(0, 60));  // inside the header
    const std::string text = Testing::WriteFile(dir_.Path() + "/text.mkv", "not a container");

    ProjectManager manager(std::make_shared<LocalFileManager>(), {});
    for (const std::string& path : {good, truncated, cut, text}) {
        try {
            CreateStreamReader(path);
        } catch (const std::runtime_error&) {
        }
        try {
            manager.LoadProject(path);
        } catch (const std::exception&) {
        }
        EXPECT_EQ(av_log_get_level(), HostFfmpegLog::kLevel) << path;
    }
    EXPECT_THROW(CreateStreamReader(cut), std::runtime_error);

    HostFfmpegLog::ownLines = 0;
    av_log(nullptr, AV_LOG_ERROR, "the host's own line\n");
    EXPECT_EQ(HostFfmpegLog::ownLines, 1);
}

TEST_F(StreamReaderTest, WhatIsNotARegularFileIsRefusedBeforeItIsRead) {
    const std::string lonely = dir_.Path() + "/no-writer.mkv";
    const std::string idle = dir_.Path() + "/idle-writer.mkv";
    ASSERT_EQ(::mkfifo(lonely.c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(idle.c_str(), 0600), 0);
    // A writer that never writes: the end stays open, so a read would wait rather than end.
    const int writer = ::open(idle.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    const std::string link = dir_.Path() + "/link-to-fifo.mkv";
    ASSERT_EQ(::symlink(lonely.c_str(), link.c_str()), 0);

    Testing::LogCapture log;
    // An open that blocks for ever ends the program by SIGALRM instead of stalling the suite.
    ::alarm(60);
    for (const std::string& path : {lonely, idle, link, std::string("/dev/zero"),
                                    std::string("/dev/null"), std::string("/dev/urandom")}) {
        try {
            CreateStreamReader(path);
            ADD_FAILURE() << "no exception for " << path;
        } catch (const std::runtime_error& error) {
            EXPECT_THAT(error.what(), HasSubstr("'" + path + "': not a regular file"));
        }
    }
    ::alarm(0);
    ::close(writer);
    EXPECT_THAT(log.Lines(), IsEmpty());
}

TEST_F(StreamReaderTest, AnOpenReadsABoundedAmountWhateverTheFileIsCalled) {
    constexpr std::int64_t kMiB = 1024 * 1024;
    const std::string large = dir_.Path() + "/large.mkv";
    Testing::WriteLargeMatroska(large, {kVideo}, kDocument, 48 * kMiB);
    for (const char* name : {"large.nut", "large.avi", "large.mp4", "large.ogg"}) {
        const std::string misnamed = dir_.Path() + "/" + name;
        ASSERT_EQ(::link(large.c_str(), misnamed.c_str()), 0);
        const std::int64_t before = BytesRead();
        const auto reader = CreateStreamReader(misnamed);
        EXPECT_LT(BytesRead() - before, kMiB) << name;  // the header, not the file
        EXPECT_EQ(reader->GetFormatFile()->GetVantorSpecificMetadata(), kDocument) << name;
    }

    // A Matroska signature before 48 MiB of noise: the demuxer would search it all.
    const std::string noise = Noise(kMiB, 11);
    std::ofstream damaged(dir_.Path() + "/damaged.mkv", std::ios::binary);
    damaged << Testing::ReadFile(large).substr(0, 64);
    for (int i = 0; i < 48; ++i) {
        damaged << noise;
    }
    damaged.close();
    const std::int64_t before = BytesRead();
    EXPECT_THROW(CreateStreamReader(dir_.Path() + "/damaged.mkv"), std::runtime_error);
    EXPECT_LT(BytesRead() - before, 20 * kMiB);
}

TEST_F(StreamReaderTest, OggTakesTheDocumentFromTheFirstStreamThatCarriesIt) {
    // Ogg has no container-level tags: ffmpeg writes each stream's into its comment header.
    const std::string video = dir_.Path() + "/take.ogv";
    ASSERT_TRUE(RunFfmpeg(
        "-f lavfi -i testsrc=size=32x32:rate=5 -f lavfi -i anullsrc=r=8000:cl=mono -f lavfi -i "
        "anullsrc=r=8000:cl=mono -t 0.4 -map 0 -map 1 -map 2 -c:v libtheora -c:a flac "
        "-metadata:s:1 VANTOR_SPECIFIC_METADATA=" +
            kDocument + " -metadata:s:2 VANTOR_SPECIFIC_METADATA=second",
        video));
    const std::string voice = dir_.Path() + "/voice.opus";
    ASSERT_TRUE(
        RunFfmpeg("-f lavfi -i anullsrc=r=48000:cl=mono -t 0.1 -c:a libopus -metadata "
                  "VANTOR_SPECIFIC_METADATA={}",
                  voice));
    const std::string plain = dir_.Path() + "/plain.oga";
    ASSERT_TRUE(RunFfmpeg("-f lavfi -i anullsrc=r=8000:cl=mono -t 0.1 -c:a flac", plain));

    const auto reader = CreateStreamReader(video);
    EXPECT_THAT(TypesOf(*reader), ElementsAre(kVideo, kAudio, kAudio));
    EXPECT_EQ(reader->GetFormatFile()->GetVantorSpecificMetadata(), kDocument);
    EXPECT_EQ(CreateStreamReader(voice)->GetFormatFile()->GetVantorSpecificMetadata(), "{}");
    EXPECT_FALSE(CreateStreamReader(plain)->GetFormatFile()->ExistsVantorSpecificMetadata());
    // Named for another container, the Ogg file is still read as what it is.
    boost::filesystem::copy_file(video, dir_.Path() + "/ogg-inside.mkv");
    EXPECT_EQ(CreateStreamReader(dir_.Path() + "/ogg-inside.mkv")
                  ->GetFormatFile()
                  ->GetVantorSpecificMetadata(),
              kDocument);
}

}  // namespace
}  // namespace Vantor::Lumo
