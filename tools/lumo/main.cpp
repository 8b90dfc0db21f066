// lumo: the project library from a shell. Exit status 0 on success, 1 on a reported failure,
// 2 on bad usage.

#include <iostream>

#include <glog/logging.h>
extern "C" {
#include <libavutil/log.h>
}

#include "Platform/Reelkit/FfmpegLog.h"
#include "tools/lumo/Commands.h"
#include "tools/lumo/Errors.h"

namespace {

constexpr int kFailure = 1;
constexpr int kBadUsage = 2;

// Quiet unless asked: no log files, nothing on the console. With --verbose every glog line of
// the library and FFmpeg's warnings go to stderr.
void SetUpLogging(const char* program, bool verbose) {
    google::InitGoogleLogging(program);
    for (const google::LogSeverity severity :
         {google::GLOG_INFO, google::GLOG_WARNING, google::GLOG_ERROR, google::GLOG_FATAL}) {
        google::SetLogDestination(severity, "");
    }
    FLAGS_logtostderr = verbose;
    FLAGS_v = verbose ? 1 : 0;
    FLAGS_minloglevel = verbose ? google::GLOG_INFO : google::GLOG_FATAL;
    FLAGS_stderrthreshold = google::GLOG_FATAL;
    av_log_set_level(verbose ? AV_LOG_WARNING : AV_LOG_QUIET);
    Vantor::Proc::RouteFfmpegLogToGlog();
}

}  // namespace

int main(int argc, char** argv) {
    namespace Tool = Vantor::Lumo::Tool;
    CLI::App app{"Create, inspect, record and remove screen-recording projects.", "lumo"};
    app.require_subcommand(1);
    app.fallthrough();  // --verbose may follow the command's own arguments
    bool verbose = false;
    app.add_flag("-v,--verbose", verbose, "Log to stderr and show failures in full");

    Tool::Command selected;
    Tool::AddNewCommand(app, selected);
    Tool::AddInfoCommand(app, selected);
    Tool::AddRemoveCommand(app, selected);
    Tool::AddRecordCommand(app, selected);
    Tool::AddDocCommand(app, selected);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        // Prints the help text, or the usage error with a hint.
        return app.exit(error) == 0 ? 0 : kBadUsage;
    }

    SetUpLogging(argv[0], verbose);
    try {
        selected.run();
        return 0;
    } catch (...) {
        std::cerr << Tool::DescribeFailure(std::current_exception(), selected.subject, verbose)
                  << std::endl;
        return kFailure;
    }
}
