#include "App/IPC/LumoIntegration/FormatFile.h"

#include <limits>
#include <optional>
#include <tuple>

#include <gmock/gmock.h>
#include <nlohmann/json.hpp>

#include "tests/Support/LogCapture.h"
#include "tests/Support/ScriptedStreamReader.h"

namespace Vantor::Lumoreel::FormatFile {

bool operator==(const StreamInfo& a, const StreamInfo& b) {
    return std::tie(a.type, a.index, a.group, a.name, a.scale_factor, a.pip_position,
                    a.pip_scale) ==
           std::tie(b.type, b.index, b.group, b.name, b.scale_factor, b.pip_position, b.pip_scale);
}

}  // namespace Vantor::Lumoreel::FormatFile

namespace Vantor::Testing {
namespace {

using namespace Lumoreel::FormatFile;
using namespace ::testing;
using Records = std::vector<StreamInfo>;
constexpr MediaType kVideo = MediaType::Video;
constexpr MediaType kAudio = MediaType::Audio;

const LogLine kDefect = Warning("Deprecated or invalid LRM Project.");

StreamInfo Record(MediaType type, int index, std::string group, std::string name = "",
                  double scale = 1.0, std::string pipPosition = "", double pipScale = 0.2) {
    return {type, index, group, name, scale, pipPosition, pipScale};
}

// A document of version 1.0 whose "stream_infos" member is `streams`.
std::string Doc(const std::string& streams) {
    return R"({"lrmp":{"version":"1.0","stream_infos":)" + streams + "}}";
}

Records Read(const std::string& text, std::exception_ptr error = nullptr) {
    return GetStreamInfo(new FakeFormatFile(text, error));
}

struct Row {
    const char* why;
    std::string text;
    std::optional<Records> records;  // none: the document is rejected
    std::exception_ptr error;        // what reading the metadata throws
};
Row Accepted(const char* why, std::string text, Records records) {
    return {why, text, records, nullptr};
}
Row Rejected(const char* why, std::string text, std::exception_ptr error = nullptr) {
    return {why, text, std::nullopt, error};
}

TEST(FormatFileReader, DecodesValidDocumentsAndDropsAnyDefectWhole) {
    const std::string deep = std::string(200000, '[') + std::string(200000, ']');
    const std::string mic = R"({"type":"audio","group":"mic","name":""})";
    const std::string video = R"({"type":"video","group":"g","name":"")";  // left open
    // A round trip of several megabytes: every record back as written, picture in picture too.
    Records many;
    for (int i = 0; i < 30000; ++i) {
        const bool pip = i % 4 == 0;  // a video stream
        many.push_back(Record(i % 2 ? kAudio : kVideo, i, pip ? "pip" : "g" + std::to_string(i),
                              std::string(100, 'n'), i % 2 ? 1.0 : i / 8.0,
                              pip ? "p" + std::to_string(i) : "", pip ? 0.5 : 0.2));
    }
    const std::string big = StreamInfoToString(many);
    std::string spoiled = big;
    spoiled.replace(spoiled.rfind("\"audio\""), 7, "\"Audio\"");
    ASSERT_GT(big.size(), 3u << 20);
    const std::vector<Row> rows = {
        Accepted("no text at all", "", {}),
        Accepted("several megabytes written by the writer", big, many),
        Rejected("several megabytes with a bad last label", spoiled),
        Rejected("a getter that throws an exception", "{}",
                 std::make_exception_ptr(std::runtime_error("x"))),
        Rejected("a getter that throws anything", "{}", std::make_exception_ptr(42)),
        Accepted("any version 1.x, no streams", R"({"lrmp":{"version":"1.2.3.4"}})", {}),
        Accepted("an empty object holds no streams", Doc("{}"), {}),
        Accepted("unknown members and whitespace are ignored",
                 R"( {"x":1,"lrmp":{"version":"1","y":[],"stream_infos":[{"type":"audio",)"
                 R"("group":"mic","name":"","z":{}}]}}  )",
                 {Record(kAudio, 0, "mic")}),
        Accepted("audio ignores video members of any type",
                 Doc(R"([{"type":"audio","group":"pip","name":"n","scale_factor":"x",)"
                     R"("pip_position":1,"pip_scale":0.5}])"),
                 {Record(kAudio, 0, "pip", "n")}),
        Accepted(
            "integral and huge finite scales",
            Doc(R"([{"type":"video","group":"a","name":"","scale_factor":2},)"
                R"({"type":"video","group":"b","name":"","scale_factor":1234567890123456789012345}])"),
            {Record(kVideo, 0, "a", "", 2.0),
             Record(kVideo, 1, "b", "", 1234567890123456789012345.0)}),
        Accepted(
            "pip in any video group, and only with both members",
            Doc(R"([{"type":"video","group":"cam","name":"","scale_factor":1,)"
                R"("pip_position":"tl","pip_scale":0.25},)"
                R"({"type":"video","group":"pip","name":"","scale_factor":1,"pip_position":7}])"),
            {Record(kVideo, 0, "cam", "", 1.0, "tl", 0.25), Record(kVideo, 1, "pip")}),
        Accepted("deep nesting in an ignored member",
                 Doc(R"([{"type":"audio","group":"mic","name":"","x":)" + deep + "}]"),
                 {Record(kAudio, 0, "mic")}),
        Rejected("text after the document", Doc("[]") + " x"),
        Rejected("a NUL byte", Doc("[]") + std::string(1, '\0')),
        Rejected("invalid UTF-8", Doc(R"([{"type":"audio","group":")"
                                      "\xc0\xaf"
                                      R"(","name":""}])")),
        Rejected("a number beyond double", Doc("[" + video + R"(,"scale_factor":1e999}])")),
        Rejected("deeply nested stream_infos", Doc(deep)),
        Rejected("no lrmp", R"({"version":"1.0"})"),
        Rejected("a version that is no text", R"({"lrmp":{"version":1}})"),
        Rejected("version 2", R"({"lrmp":{"version":"2.0"}})"),
        Rejected("a version of five components", R"({"lrmp":{"version":"1.0.0.0.0"}})"),
        Rejected("stream_infos a scalar", Doc("0")),
        Rejected("stream_infos a non-empty object", Doc(R"({"0":)" + mic + "}")),
        Rejected("an element that is no object", Doc("[null]")),
        Rejected("a type label of another case",
                 Doc(R"([{"type":"Video","group":"g","name":""}])")),
        Rejected("a null name", Doc(R"([{"type":"audio","group":"g","name":null}])")),
        Rejected("video without a scale", Doc("[" + video + "}]")),
        Rejected("a boolean scale", Doc("[" + video + R"(,"scale_factor":true}])")),
        Rejected("a pip position that is no text",
                 Doc("[" + video + R"(,"scale_factor":1,"pip_position":1,"pip_scale":0.2}])")),
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        LogCapture log;
        const Records records = Read(row.text, row.error);
        if (row.records) {
            EXPECT_EQ(records, *row.records);
            EXPECT_THAT(log.Lines(), IsEmpty());
        } else {
            EXPECT_THAT(records, IsEmpty());
            EXPECT_THAT(log.Lines(), ElementsAre(kDefect));
        }
    }
}

TEST(FormatFileWriter, WritesCompactMembersInByteOrder) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(StreamInfoToString({}), R"({"lrmp":{"version":"1.0"}})");
    EXPECT_EQ(StreamInfoToString({Record(kVideo, 7, "screen", "Screen", 1.5, "tl", 0.5),
                                  Record(kAudio, 7, "a\"b\\\x01\n", "\xc3\xa9t\xc3\xa9", 3.0)}),
              R"({"lrmp":{"stream_infos":[)"
              R"({"group":"screen","name":"Screen","scale_factor":1.5,"type":"video"},)"
              R"({"group":"a\"b\\\u0001\n","name":"été","type":"audio"}],"version":"1.0"}})");
    // Only the exact group "pip" carries picture in picture; non-finite numbers become null.
    EXPECT_EQ(StreamInfoToString({Record(kVideo, 0, "pip", "", nan, "bottom-right", -nan),
                                  Record(kVideo, 0, "PIP", "", 2.0, "tl", 0.5)}),
              R"({"lrmp":{"stream_infos":[{"group":"pip","name":"",)"
              R"("pip_position":"bottom-right","pip_scale":null,"scale_factor":null,)"
              R"("type":"video"},{"group":"PIP","name":"","scale_factor":2.0,"type":"video"}],)"
              R"("version":"1.0"}})");
    EXPECT_THROW(StreamInfoToString({Record(kAudio, 0, "mic\xff")}), nlohmann::json::type_error);
}

}  // namespace
}  // namespace Vantor::Testing
