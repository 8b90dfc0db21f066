// The lumo tool as a person runs it: real processes in temporary directories, and FFmpeg's own
// ffprobe judging the files it records.

#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <boost/filesystem.hpp>
#include <nlohmann/json.hpp>

#include "tests/Support/ChildProcess.h"
#include "tests/Support/TempDir.h"

namespace Vantor::Lumo {
namespace {

namespace fs = boost::filesystem;
using ::testing::ElementsAre;
using Testing::Entries;
using ::testing::HasSubstr;
using ::testing::UnorderedElementsAre;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

class LumoToolTest : public ::testing::Test {
protected:
    Testing::TempDir root;
    Testing::ScopedEnv dataHome{"XDG_DATA_HOME", root.Path() + "/data"};
    // Where glog would put log files; the tool must leave it empty.
    Testing::ScopedEnv tmpDir{"TMPDIR", Testing::MakeDirectory(root.Path() + "/tmp")};

    // Runs `argv` (argv[0] searched in PATH) with stdout and stderr caught in files. One that
    // hangs is killed after a minute and answers status -1: the suite fails instead of stalling.
    Outcome Execute(const std::vector<std::string>& argv) {
        const std::string out = root.Path() + "/.stdout", err = root.Path() + "/.stderr";
        Testing::ChildProcess child(argv, {{}, out, err});
        const auto exit = child.WaitFor(60);
        return {exit ? exit->status : -1, Testing::ReadFile(out), Testing::ReadFile(err)};
    }

    Outcome Lumo(std::vector<std::string> args) {
        args.insert(args.begin(), LUMO_TOOL_PATH);
        return Execute(args);
    }

    // Runs `lumo record ARGS...` and answers the path it printed.
    std::string Record(const std::vector<std::string>& args) {
        std::vector<std::string> command{"record"};
        command.insert(command.end(), args.begin(), args.end());
        const Outcome run = Lumo(command);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
        return run.out.substr(0, run.out.find('\n'));
    }

    nlohmann::json Probe(const std::string& file) {
        const Outcome run = Execute(
            {"ffprobe", "-v", "quiet", "-show_streams", "-show_format", "-of", "json", file});
        EXPECT_EQ(run.status, 0) << file;
        return nlohmann::json::parse(run.out);
    }
};

TEST_F(LumoToolTest, ARecordedContainerReadsBackWithItsGroups) {
    const std::string project = Record({root.Path() + "/takes", "--seconds", "1"});
    EXPECT_EQ(project, root.Path() + "/takes/KorvelProject1.mkv");
    EXPECT_THAT(Entries(root.Path() + "/takes"), ElementsAre("KorvelProject1.mkv"));

    const Outcome info = Lumo({"info", project, "--json"});
    ASSERT_EQ(info.status, 0) << info.err;
    const nlohmann::json json = nlohmann::json::parse(info.out);
    EXPECT_EQ(json["kind"], "media container");
    EXPECT_EQ(json["size"], fs::file_size(project));
    ASSERT_EQ(json["streams"].size(), 2u);
    EXPECT_EQ(json["streams"][0]["group"], "screen");
    EXPECT_EQ(json["streams"][0]["type"], "video");
    EXPECT_EQ(json["streams"][1]["group"], "mic");
    EXPECT_EQ(json["streams"][1]["index"], 1);

    // FFmpeg sees the same file: a picture stream and a sound stream.
    const nlohmann::json probe = Probe(project);
    ASSERT_EQ(probe["streams"].size(), 2u);
    EXPECT_EQ(probe["streams"][0]["codec_type"], "video");
    EXPECT_EQ(probe["streams"][1]["codec_type"], "audio");
    EXPECT_GT(std::stod(probe["format"]["duration"].get<std::string>()), 0.9);
}

TEST_F(LumoToolTest, AFolderRecordingHoldsOneSingleStreamFilePerGroup) {
    // A length that is no whole number of audio blocks; the last one comes out short.
    const std::string project = Record({root.Path(), "--folder", "--seconds", "0.1"});
    EXPECT_EQ(project, root.Path() + "/KorvelProject1");
    EXPECT_THAT(Entries(project), UnorderedElementsAre("screen.mkv", "mic.mkv"));
    // The screen's file lasts 3 whole pictures.
    for (const auto& [file, type, duration] :
         {std::tuple{"screen.mkv", "video", "0.120000"}, {"mic.mkv", "audio", "0.100000"}}) {
        const nlohmann::json probe = Probe(project + "/" + file);
        ASSERT_EQ(probe["streams"].size(), 1u) << file;
        EXPECT_EQ(probe["streams"][0]["index"], 0);
        EXPECT_EQ(probe["streams"][0]["codec_type"], type);
        EXPECT_EQ(probe["format"]["duration"], duration);
    }
    EXPECT_EQ(Lumo({"info", project}).status, 0);
}

TEST_F(LumoToolTest, NewProjectsGetFreshNamesAndRemoveGoesToTheTrash) {
    const Outcome first = Lumo({"new", root.Path()});
    const Outcome second = Lumo({"new", root.Path()});
    const Outcome folder = Lumo({"new", root.Path(), "--folder", "--name", "Take"});
    ASSERT_EQ(first.status + second.status + folder.status, 0) << first.err << second.err;
    EXPECT_EQ(first.out, root.Path() + "/KorvelProject1.mkv\n");
    EXPECT_EQ(second.out, root.Path() + "/KorvelProject2.mkv\n");
    EXPECT_EQ(folder.out, root.Path() + "/Take1\n");

    const Outcome removed = Lumo({"rm", root.Path() + "/Take1", "--trash"});
    EXPECT_EQ(removed.status, 0) << removed.err;
    EXPECT_FALSE(fs::exists(root.Path() + "/Take1"));
    EXPECT_TRUE(fs::is_directory(root.Path() + "/data/Trash/files/Take1"));

    const Outcome doc = Lumo({"doc", "video:screen", "audio:mic:Mic"});
    EXPECT_EQ(doc.out,
              R"({"lrmp":{"stream_infos":[{"group":"screen","name":"","scale_factor":1.0,)"
              R"("type":"video"},{"group":"mic","name":"Mic","type":"audio"}],"version":"1.0"}})"
              "\n");
}

TEST_F(LumoToolTest, FailuresAreOneLineAndBadUsageIsTwo) {
    Testing::WriteFile(root.Path() + "/junk.mkv", std::string(4096, 'z'));
    for (const char* command : {"info", "rm"}) {
        const Outcome run = Lumo({command, root.Path() + "/junk.mkv"});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_THAT(run.err, HasSubstr(root.Path() + "/junk.mkv"));
        EXPECT_EQ(run.out, "");
    }
    EXPECT_TRUE(fs::exists(root.Path() + "/junk.mkv"));

    const Outcome taken = Lumo({"record", root.Path() + "/junk.mkv"});
    EXPECT_EQ(taken.status, 1);
    EXPECT_THAT(taken.err, HasSubstr("CanNotCreateDirForProjectException"));

    EXPECT_EQ(Lumo({}).status, 2);
    EXPECT_EQ(Lumo({"info"}).status, 2);
    EXPECT_EQ(Lumo({"record", root.Path(), "--seconds", "soon"}).status, 2);
    EXPECT_EQ(Lumo({"doc", "subtitle:x"}).status, 2);
    EXPECT_EQ(Lumo({"new", root.Path(), "--bogus"}).status, 2);
    EXPECT_THAT(Entries(root.Path()),
                UnorderedElementsAre("junk.mkv", "tmp", ".stdout", ".stderr"));
    EXPECT_THAT(Entries(root.Path() + "/tmp"), ElementsAre());

    const Outcome help = Lumo({"rm", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_THAT(help.out, HasSubstr("--trash"));
}

TEST_F(LumoToolTest, AFifoIsRefusedInsteadOfWaitedFor) {
    const std::string fifo = root.Path() + "/pipe.mkv";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const Outcome run = Lumo({"info", fifo});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.rfind("lumo:", 0), 0u) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_THAT(run.err, HasSubstr("not a regular file"));
    EXPECT_EQ(run.out, "");
}

// The library reads a name as a regular expression and a format template: a name it would
// misread is bad usage, refused before anything is made.
TEST_F(LumoToolTest, NewRefusesNamesTheLibraryWouldMisread) {
    const std::string takes = root.Path() + "/takes";
    for (const auto& [option, text, named] :
         {std::tuple{"--name", "a+b", "+"}, std::tuple{"--name", "take(1", "("},
          std::tuple{"--name", "100%", "%"}, std::tuple{"--name", "my.take[2]", ".[]"},
          std::tuple{"--ext", ".a|b", "|"}}) {
        const Outcome run = Lumo({"new", takes, option, text});
        EXPECT_EQ(run.status, 2) << text;
        EXPECT_THAT(run.err, HasSubstr(std::string("'") + text + "' holds " + named + ", "))
            << text;
        EXPECT_THAT(run.err, HasSubstr("^ $ \\ . * + ? ( ) [ ] { } | % are refused")) << text;
    }
    EXPECT_FALSE(fs::exists(takes));
    // The one dot an extension starts with is escaped by the library, so it is fine.
    EXPECT_EQ(Lumo({"new", takes, "--name", "take_1-a", "--ext", ".mkv"}).status, 0);
}

}  // namespace
}  // namespace Vantor::Lumo
