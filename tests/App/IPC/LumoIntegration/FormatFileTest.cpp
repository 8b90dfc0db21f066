#include "App/IPC/LumoIntegration/FormatFile.h"

#include <limits>
#include <ostream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/Support/FakeFormatFile.h"
#include "tests/Support/LogCapture.h"

namespace Vantor::Lumoreel::FormatFile {

// Test-only: compare and print whole records.
bool operator==(const StreamInfo& a, const StreamInfo& b) {
    return a.type == b.type && a.index == b.index && a.group == b.group && a.name == b.name &&
           a.scale_factor == b.scale_factor && a.pip_position == b.pip_position &&
           a.pip_scale == b.pip_scale;
}

void PrintTo(const StreamInfo& r, std::ostream* out) {
    *out << "{type " << static_cast<int>(r.type) << ", index " << r.index << ", group \"" << r.group
         << "\", name \"" << r.name << "\", scale " << r.scale_factor << ", pip \""
         << r.pip_position << "\" " << r.pip_scale << "}";
}

}  // namespace Vantor::Lumoreel::FormatFile

namespace Vantor::Testing {
namespace {

using Lumoreel::FormatFile::GetStreamInfo;
using Lumoreel::FormatFile::StreamInfo;
using Lumoreel::FormatFile::StreamInfoToString;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

const LogLine kDefectWarning = Warning("Deprecated or invalid LRM Project.");

StreamInfo Record(MediaType type, int index, std::string group, std::string name,
                  double scale = 1.0, std::string pipPosition = "", double pipScale = 0.2) {
    StreamInfo record;
    record.type = type;
    record.index = index;
    record.group = std::move(group);
    record.name = std::move(name);
    record.scale_factor = scale;
    record.pip_position = std::move(pipPosition);
    record.pip_scale = pipScale;
    return record;
}
StreamInfo Video(int index, std::string group, double scale = 1.0, std::string pipPosition = "",
                 double pipScale = 0.2) {
    return Record(MediaType::Video, index, std::move(group), "", scale, std::move(pipPosition),
                  pipScale);
}
StreamInfo Audio(int index, std::string group) {
    return Record(MediaType::Audio, index, std::move(group), "");
}

// A document of version 1.0 whose "stream_infos" member is `streams`.
std::string Doc(const std::string& streams) {
    return R"({"lrmp":{"version":"1.0","stream_infos":)" + streams + "}}";
}

std::vector<StreamInfo> Read(const std::string& text) {
    return GetStreamInfo(FakeFormatFile::WithMetadata(text));
}

struct AcceptedCase {
    const char* why;
    std::string text;
    std::vector<StreamInfo> expected;
};
void PrintTo(const AcceptedCase& row, std::ostream* out) {
    *out << row.why;
}

class AcceptedDocument : public ::testing::TestWithParam<AcceptedCase> {};

TEST_P(AcceptedDocument, DecodesWithoutLogging) {
    LogCapture log;
    EXPECT_EQ(Read(GetParam().text), GetParam().expected);
    EXPECT_THAT(log.Lines(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Reader, AcceptedDocument,
    ::testing::Values(
        // Versions: any text whose first component is 1.
        AcceptedCase{"VersionOne", R"({"lrmp":{"version":"1"}})", {}},
        AcceptedCase{"VersionOnePointZero", R"({"lrmp":{"version":"1.0"}})", {}},
        AcceptedCase{"VersionOnePointNine", R"({"lrmp":{"version":"1.9"}})", {}},
        AcceptedCase{"VersionFourComponents", R"({"lrmp":{"version":"1.2.3.4"}})", {}},
        // No streams.
        AcceptedCase{"StreamInfosNull", Doc("null"), {}},
        AcceptedCase{"StreamInfosEmptyArray", Doc("[]"), {}},
        AcceptedCase{"StreamInfosEmptyObject", Doc("{}"), {}},
        AcceptedCase{"WhitespaceAroundDocument", " \n\t" + Doc("[]") + "\r\n ", {}},
        AcceptedCase{"UnknownMembersEverywhere",
                     R"({"x":1,"lrmp":{"version":"1.0","y":[],"stream_infos":)"
                     R"([{"type":"audio","group":"mic","name":"","z":{}}]}})",
                     {Audio(0, "mic")}},
        // Audio: only type, group and name are read.
        AcceptedCase{"AudioWithoutScaleFactor",
                     Doc(R"([{"type":"audio","group":"mic","name":"Mic 1"}])"),
                     {Record(MediaType::Audio, 0, "mic", "Mic 1")}},
        AcceptedCase{"AudioIgnoresVideoMembersOfAnyType",
                     Doc(R"([{"type":"audio","group":"pip","name":"","scale_factor":"x",)"
                         R"("pip_position":"tl","pip_scale":0.5}])"),
                     {Audio(0, "pip")}},
        // Video numbers: integral and fractional alike; huge but finite ones too.
        AcceptedCase{"VideoIntegerScale",
                     Doc(R"([{"type":"video","group":"screen","name":"","scale_factor":2}])"),
                     {Video(0, "screen", 2.0)}},
        AcceptedCase{"VideoNegativeExponentScale",
                     Doc(R"([{"type":"video","group":"g","name":"","scale_factor":-25e-1}])"),
                     {Video(0, "g", -2.5)}},
        AcceptedCase{"VideoScaleBeyondInt64",
                     Doc(R"([{"type":"video","group":"g","name":"",)"
                         R"("scale_factor":123456789012345678901234567890}])"),
                     {Video(0, "g", 123456789012345678901234567890.0)}},
        AcceptedCase{"VideoScaleLargestUnsigned",
                     Doc(R"([{"type":"video","group":"g","name":"",)"
                         R"("scale_factor":18446744073709551615}])"),
                     {Video(0, "g", 18446744073709551615.0)}},
        // Picture in picture: read for any video group, only when both members are there.
        AcceptedCase{"VideoPipInAnyGroup",
                     Doc(R"([{"type":"video","group":"cam","name":"","scale_factor":1,)"
                         R"("pip_position":"top-left","pip_scale":0.25}])"),
                     {Video(0, "cam", 1.0, "top-left", 0.25)}},
        AcceptedCase{"VideoPipPositionAloneIgnored",
                     Doc(R"([{"type":"video","group":"pip","name":"","scale_factor":1,)"
                         R"("pip_position":7}])"),
                     {Video(0, "pip")}},
        AcceptedCase{"VideoPipScaleAloneIgnored",
                     Doc(R"([{"type":"video","group":"pip","name":"","scale_factor":1,)"
                         R"("pip_scale":"big"}])"),
                     {Video(0, "pip")}},
        // Positions become indexes, whatever the elements say.
        AcceptedCase{"IndexesArePositions",
                     Doc(R"([{"type":"video","group":"a","name":"","scale_factor":1,"index":7},)"
                         R"({"type":"audio","group":"b","name":"","index":7},)"
                         R"({"type":"audio","group":"c","name":"n"}])"),
                     {Video(0, "a"), Audio(1, "b"), Record(MediaType::Audio, 2, "c", "n")}},
        AcceptedCase{"TextsWithEscapesAndUnicode",
                     Doc(R"([{"type":"audio","group":"\u00e9cran \"1\"","name":"日本\n"}])"),
                     {Record(MediaType::Audio, 0,
                             "\xc3\xa9"
                             "cran \"1\"",
                             "日本\n")}}),
    [](const auto& info) { return std::string(info.param.why); });

struct RejectedCase {
    const char* why;
    std::string text;
};
void PrintTo(const RejectedCase& row, std::ostream* out) {
    *out << row.why;
}

class RejectedDocument : public ::testing::TestWithParam<RejectedCase> {};

TEST_P(RejectedDocument, GivesNothingAndOneWarning) {
    LogCapture log;
    EXPECT_THAT(Read(GetParam().text), IsEmpty());
    EXPECT_THAT(log.Lines(), ElementsAre(kDefectWarning));
}

const std::string kAudio = R"({"type":"audio","group":"mic","name":""})";

INSTANTIATE_TEST_SUITE_P(
    Reader, RejectedDocument,
    ::testing::Values(
        // Not one whole JSON value.
        RejectedCase{"NotJson", "lrmp"}, RejectedCase{"WhitespaceOnly", " \n"},
        RejectedCase{"Truncated", R"({"lrmp":{"version":"1.0")"},
        RejectedCase{"TrailingText", Doc("[]") + " x"},
        RejectedCase{"TwoDocuments", Doc("[]") + Doc("[]")},
        RejectedCase{"Comment", "/* c */" + Doc("[]")},
        RejectedCase{"TextAfterNulByte", Doc("[]") + std::string(1, '\0') + "junk"},
        RejectedCase{"TrailingNulByte", Doc("[]") + std::string(1, '\0')},
        RejectedCase{"InvalidUtf8InString", Doc(R"([{"type":"audio","group":"m)"
                                                "\xff"
                                                R"(","name":""}])")},
        RejectedCase{"OverlongUtf8InString", Doc(R"([{"type":"audio","group":")"
                                                 "\xc0\xaf"
                                                 R"(","name":""}])")},
        RejectedCase{"NumberOverflowsDouble",
                     Doc(R"([{"type":"video","group":"g","name":"","scale_factor":1e999}])")},
        // The root.
        RejectedCase{"TopLevelArray", "[" + Doc("[]") + "]"}, RejectedCase{"TopLevelNull", "null"},
        RejectedCase{"TopLevelString", R"("lrmp")"}, RejectedCase{"NoLrmp", R"({"version":"1.0"})"},
        RejectedCase{"LrmpNull", R"({"lrmp":null})"},
        RejectedCase{"LrmpArray", R"({"lrmp":[{"version":"1.0"}]})"},
        // The version.
        RejectedCase{"VersionMissing", R"({"lrmp":{}})"},
        RejectedCase{"VersionNumber", R"({"lrmp":{"version":1}})"},
        RejectedCase{"VersionTwo", R"({"lrmp":{"version":"2.0"}})"},
        RejectedCase{"VersionZeroPointNine", R"({"lrmp":{"version":"0.9"}})"},
        RejectedCase{"VersionEmpty", R"({"lrmp":{"version":""}})"},
        RejectedCase{"VersionNotNumeric", R"({"lrmp":{"version":"one"}})"},
        RejectedCase{"VersionFiveComponents", R"({"lrmp":{"version":"1.0.0.0.0"}})"},
        RejectedCase{"VersionBeyondInt32", R"({"lrmp":{"version":"1.99999999999"}})"},
        // "stream_infos" that is not a list of streams.
        RejectedCase{"StreamInfosString", Doc(R"("audio")")},
        RejectedCase{"StreamInfosNumber", Doc("0")}, RejectedCase{"StreamInfosFalse", Doc("false")},
        RejectedCase{"StreamInfosNonEmptyObject", Doc(R"({"0":)" + kAudio + "}")},
        RejectedCase{"ElementNull", Doc("[null]")}, RejectedCase{"ElementArray", Doc("[[]]")},
        RejectedCase{"ElementString", Doc(R"(["audio"])")},
        // Type labels: exact and required; a bad later element spoils the earlier ones.
        RejectedCase{"TypeCapitalised", Doc(R"([{"type":"Video","group":"g","name":""}])")},
        RejectedCase{"TypeUnknown", Doc(R"([{"type":"subtitle","group":"g","name":""}])")},
        RejectedCase{"TypeNumber", Doc(R"([{"type":2,"group":"g","name":""}])")},
        RejectedCase{"TypeMissing", Doc(R"([{"group":"g","name":""}])")},
        RejectedCase{"BadSecondElement", Doc("[" + kAudio + R"(,{"type":"Audio"}])")},
        // Texts.
        RejectedCase{"GroupMissing", Doc(R"([{"type":"audio","name":""}])")},
        RejectedCase{"GroupNumber", Doc(R"([{"type":"audio","group":1,"name":""}])")},
        RejectedCase{"NameNull", Doc(R"([{"type":"audio","group":"g","name":null}])")},
        // Video numbers.
        RejectedCase{"VideoScaleMissing", Doc(R"([{"type":"video","group":"g","name":""}])")},
        RejectedCase{"VideoScaleTrue",
                     Doc(R"([{"type":"video","group":"g","name":"","scale_factor":true}])")},
        RejectedCase{"VideoScaleString",
                     Doc(R"([{"type":"video","group":"g","name":"","scale_factor":"2"}])")},
        RejectedCase{"VideoScaleNull",
                     Doc(R"([{"type":"video","group":"g","name":"","scale_factor":null}])")},
        RejectedCase{"VideoPipPositionNotText",
                     Doc(R"([{"type":"video","group":"pip","name":"","scale_factor":1,)"
                         R"("pip_position":1,"pip_scale":0.2}])")},
        RejectedCase{"VideoPipScaleNull",
                     Doc(R"([{"type":"video","group":"pip","name":"","scale_factor":1,)"
                         R"("pip_position":"tl","pip_scale":null}])")}),
    [](const auto& info) { return std::string(info.param.why); });

TEST(Reader, EmptyMetadataIsNoDocumentAndLogsNothing) {
    LogCapture log;
    EXPECT_THAT(Read(""), IsEmpty());
    EXPECT_THAT(GetStreamInfo(FakeFormatFile::WithoutMetadata()), IsEmpty());
    EXPECT_THAT(log.Lines(), IsEmpty());
}

TEST(Reader, FailingMetadataGetterIsADefect) {
    auto file = FakeFormatFile::WithMetadata(Doc("[]"));
    for (auto error : {std::make_exception_ptr(std::runtime_error("unreadable")),
                       std::make_exception_ptr(std::bad_alloc()), std::make_exception_ptr(42)}) {
        file->FailReadsWith(error);
        LogCapture log;
        EXPECT_THAT(GetStreamInfo(file), IsEmpty());
        EXPECT_THAT(log.Lines(), ElementsAre(kDefectWarning));
    }
}

TEST(Reader, NullFormatFileIsADefectNotACrash) {
    LogCapture log;
    EXPECT_THAT(GetStreamInfo(nullptr), IsEmpty());
    EXPECT_THAT(log.Lines(), ElementsAre(kDefectWarning));
}

TEST(Reader, ReadsTheMetadataOnceAndKeepsNoReference) {
    const int aliveBefore = FakeFormatFile::Alive();
    {
        auto file = FakeFormatFile::WithMetadata(Doc("[" + kAudio + "]"));
        EXPECT_THAT(GetStreamInfo(file), ElementsAre(Audio(0, "mic")));
        EXPECT_EQ(file->MetadataReads(), 1);
    }
    EXPECT_EQ(FakeFormatFile::Alive(), aliveBefore);
}

// Whatever bytes arrive, the reader answers; a crash or a stack overflow fails the suite.
constexpr std::size_t kDeepNesting = 200000;  // a recursive copy of this overflows an 8 MB stack

TEST(ReaderRobustness, UnclosedDeepNestingIsRejected) {
    LogCapture log;
    EXPECT_THAT(Read(std::string(kDeepNesting, '[')), IsEmpty());
    EXPECT_THAT(Read(R"({"lrmp":)" + std::string(kDeepNesting, '{')), IsEmpty());
    EXPECT_THAT(log.Lines(), ElementsAre(kDefectWarning, kDefectWarning));
}

TEST(ReaderRobustness, DeepNestingInIgnoredMembersIsAccepted) {
    const std::string deep = std::string(kDeepNesting, '[') + std::string(kDeepNesting, ']');
    LogCapture log;
    EXPECT_THAT(Read(R"({"lrmp":{"version":"1.0","extra":)" + deep + "}}"), IsEmpty());
    EXPECT_THAT(Read(Doc(R"([{"type":"audio","group":"mic","name":"","extra":)" + deep + "}]")),
                ElementsAre(Audio(0, "mic")));
    EXPECT_THAT(log.Lines(), IsEmpty());
}

TEST(ReaderRobustness, DeeplyNestedStreamInfosAreRejected) {
    LogCapture log;
    EXPECT_THAT(Read(Doc(std::string(kDeepNesting, '[') + std::string(kDeepNesting, ']'))),
                IsEmpty());
    EXPECT_THAT(log.Lines(), ElementsAre(kDefectWarning));
}

TEST(ReaderRobustness, SeveralMegabyteDocumentsAreReadWholeOrNotAtAll) {
    constexpr int kRecords = 30000;
    const std::string longName(100, 'n');
    std::vector<StreamInfo> records;
    for (int i = 0; i < kRecords; ++i) {
        records.push_back(Record(i % 2 ? MediaType::Audio : MediaType::Video, i,
                                 "group" + std::to_string(i), longName));
    }
    const std::string text = StreamInfoToString(records);
    ASSERT_GT(text.size(), 3u << 20);

    LogCapture log;
    EXPECT_EQ(Read(text), records);
    EXPECT_THAT(log.Lines(), IsEmpty());

    // One bad label in the very last element drops all the others.
    std::string spoiled = text;
    const auto last = spoiled.rfind("\"audio\"");
    ASSERT_NE(last, std::string::npos);
    spoiled.replace(last, 7, "\"Audio\"");
    EXPECT_THAT(Read(spoiled), IsEmpty());
    EXPECT_THAT(log.Lines(), ElementsAre(kDefectWarning));
}

TEST(ReaderRobustness, MegabyteTextsAreKept) {
    const std::string huge(3 << 20, 'x');
    EXPECT_THAT(Read(Doc(R"([{"type":"audio","group":")" + huge + R"(","name":""}])")),
                ElementsAre(Audio(0, huge)));
}

TEST(ReaderRobustness, MutatedDocumentsNeverThrowAndWarnAtMostOnce) {
    const std::string valid =
        StreamInfoToString({Video(0, "pip", 1.5, "tl", 0.3), Audio(1, "mic"), Video(2, "s")});
    std::mt19937 random(20240611);  // fixed seed: the same bytes on every run
    for (int round = 0; round < 3000; ++round) {
        std::string text = valid;
        for (int edits = 1 + round % 4; edits > 0; --edits) {
            const std::size_t at = random() % text.size();
            const char byte = static_cast<char>(random() % 256);
            switch (random() % 3) {
                case 0:
                    text[at] = byte;
                    break;
                case 1:
                    text.insert(at, 1, byte);
                    break;
                default:
                    text.erase(at, 1);
                    break;
            }
        }
        LogCapture log;
        std::vector<StreamInfo> records;
        ASSERT_NO_THROW(records = Read(text)) << text;
        if (!log.Lines().empty()) {
            EXPECT_THAT(log.Lines(), ElementsAre(kDefectWarning)) << text;
            EXPECT_THAT(records, IsEmpty()) << text;
        }
    }
}

TEST(Writer, EmptyListWritesOnlyTheVersion) {
    EXPECT_EQ(StreamInfoToString({}), R"({"lrmp":{"version":"1.0"}})");
}

TEST(Writer, WritesMembersInByteOrderWithoutIndexes) {
    EXPECT_EQ(StreamInfoToString({Record(MediaType::Video, 7, "screen", "Screen", 1.5),
                                  Record(MediaType::Audio, 7, "mic", "Mic", 3.0, "tl", 0.5)}),
              R"({"lrmp":{"stream_infos":[)"
              R"({"group":"screen","name":"Screen","scale_factor":1.5,"type":"video"},)"
              R"({"group":"mic","name":"Mic","type":"audio"}],"version":"1.0"}})");
}

TEST(Writer, OnlyTheExactPipGroupCarriesPictureInPicture) {
    EXPECT_EQ(StreamInfoToString({Video(0, "pip", 1.0, "bottom-right", 0.25)}),
              R"({"lrmp":{"stream_infos":[{"group":"pip","name":"",)"
              R"("pip_position":"bottom-right","pip_scale":0.25,"scale_factor":1.0,)"
              R"("type":"video"}],"version":"1.0"}})");
    for (const char* group : {"PIP", "pip ", "pips", "Pip"}) {
        EXPECT_EQ(StreamInfoToString({Video(0, group, 2.0, "tl", 0.5)}),
                  R"({"lrmp":{"stream_infos":[{"group":")" + std::string(group) +
                      R"(","name":"","scale_factor":2.0,"type":"video"}],"version":"1.0"}})")
            << group;
    }
    EXPECT_EQ(StreamInfoToString({Record(MediaType::Audio, 0, "pip", "", 2.0, "tl", 0.5)}),
              R"({"lrmp":{"stream_infos":[{"group":"pip","name":"","type":"audio"}],)"
              R"("version":"1.0"}})");
}

TEST(Writer, OtherMediaTypesAreLabelledVideoWithoutScale) {
    for (MediaType type : {MediaType::None, MediaType::Subtitle, static_cast<MediaType>(-7)}) {
        const std::string text = StreamInfoToString({Record(type, 0, "pip", "", 2.0)});
        EXPECT_EQ(text, R"({"lrmp":{"stream_infos":[{"group":"pip","name":"","type":"video"}],)"
                        R"("version":"1.0"}})");
        EXPECT_THAT(Read(text), IsEmpty());
    }
}

TEST(Writer, NonFiniteNumbersBecomeNullAndCannotBeReadBack) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const std::string text = StreamInfoToString({Video(0, "pip", nan, "c", -inf)});
    EXPECT_EQ(text, R"({"lrmp":{"stream_infos":[{"group":"pip","name":"","pip_position":"c",)"
                    R"("pip_scale":null,"scale_factor":null,"type":"video"}],"version":"1.0"}})");
    EXPECT_THAT(Read(text), IsEmpty());
}

TEST(Writer, EscapesTextsAndKeepsUtf8) {
    EXPECT_EQ(
        StreamInfoToString({Record(MediaType::Audio, 0, "a\"b\\c\x01\n", "\xc3\xa9t\xc3\xa9")}),
        R"({"lrmp":{"stream_infos":[{"group":"a\"b\\c\u0001\n","name":"été",)"
        R"("type":"audio"}],"version":"1.0"}})");
}

TEST(Writer, InvalidUtf8ReachesTheCallerAsTheJsonLibrarysError) {
    EXPECT_THROW(StreamInfoToString({Audio(0, "mic\xff")}), nlohmann::json::type_error);
}

TEST(RoundTrip, KeepsWhatTheDocumentCarries) {
    const std::vector<StreamInfo> written = {
        Record(MediaType::Video, 5, "screen", "Display 1", 0.1),
        Record(MediaType::Audio, 5, "mic", "USB \"Mic\"", 4.0, "tl", 0.9),
        Record(MediaType::Video, 5, "pip", "Camera", 1.0 / 3.0, "{\"x\":1}", 0.3),
        Record(MediaType::Video, 5, "cam", "", 2.0, "dropped", 0.9),
        Record(MediaType::Audio, 5, "", "\xe2\x82\xac"),
    };
    EXPECT_THAT(
        Read(StreamInfoToString(written)),
        ElementsAre(Record(MediaType::Video, 0, "screen", "Display 1", 0.1),
                    Record(MediaType::Audio, 1, "mic", "USB \"Mic\""),
                    Record(MediaType::Video, 2, "pip", "Camera", 1.0 / 3.0, "{\"x\":1}", 0.3),
                    Record(MediaType::Video, 3, "cam", "", 2.0),
                    Record(MediaType::Audio, 4, "", "\xe2\x82\xac")));
}

TEST(RoundTrip, EmptyListReadsBackEmptyAndQuietly) {
    LogCapture log;
    EXPECT_THAT(Read(StreamInfoToString({})), IsEmpty());
    EXPECT_THAT(log.Lines(), IsEmpty());
}

}  // namespace
}  // namespace Vantor::Testing
