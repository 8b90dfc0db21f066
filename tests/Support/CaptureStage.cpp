#include "tests/Support/CaptureStage.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "tests/Support/StageFiles.h"

namespace Vantor::Testing {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr double kStartSeconds = 15.0;  // generous: a loaded two-core machine

}  // namespace

CaptureStage::CaptureStage() {
    Require("Xvfb", "xvfb");
    Require("pulseaudio", "pulseaudio");
    Require("pactl", "pulseaudio-utils");
    Require("xsetroot", "x11-xserver-utils");
    Require("xrandr", "x11-xserver-utils");
    Require("ffmpeg", "ffmpeg");
    scratch_ = MakeScratch();
    try {
        StartX();
        StartSound();
    } catch (...) {
        sound_.reset();
        x_.reset();
        std::error_code ignored;
        fs::remove_all(scratch_, ignored);
        throw;
    }
}

CaptureStage::~CaptureStage() {
    tone_.reset();
    sound_.reset();
    x_.reset();
    std::error_code ignored;
    fs::remove_all(scratch_, ignored);
}

std::string CaptureStage::Log(const std::string& label) const {
    return scratch_ + "/" + label + ".log";
}

void CaptureStage::StartX() {
    // Xvfb picks a free display itself and writes its number to the descriptor once it listens.
    // Without -noreset the server starts afresh whenever its last client leaves, and the
    // screen's colour goes with it.
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    }
    ChildOptions options;
    options.stderrPath = Log("Xvfb");
    options.inheritedFd = ends[1];
    try {
        x_ = std::make_unique<ChildProcess>(
            std::vector<std::string>{"Xvfb", "-displayfd", std::to_string(ends[1]), "-screen", "0",
                                     std::to_string(kWidth) + "x" + std::to_string(kHeight) + "x24",
                                     "-nolisten", "tcp", "-noreset"},
            options);
    } catch (...) {
        ::close(ends[0]);
        ::close(ends[1]);
        throw;
    }
    ::close(ends[1]);
    std::string number;
    const auto deadline = Clock::now() + std::chrono::duration<double>(kStartSeconds);
    while (number.empty() || number.back() != '\n') {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd ready{ends[0], POLLIN, 0};
        if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) <= 0) {
            break;
        }
        char buffer[16];
        const ssize_t got = ::read(ends[0], buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        number.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(ends[0]);
    if (number.empty() || number.back() != '\n') {
        throw std::runtime_error("Xvfb did not start: " + Tail(Log("Xvfb")));
    }
    number.pop_back();
    display_ = ":" + number;
}

void CaptureStage::StartSound() {
    const std::string home = scratch_ + "/home";
    for (const char* folder : {"home", "config", "runtime", "state"}) {
        fs::create_directories(scratch_ + "/" + folder);
    }
    socket_ = scratch_ + "/runtime/socket";
    const std::string script = scratch_ + "/default.pa";
    std::ofstream(script) << "load-module module-null-sink sink_name=" << sink_
                          << " rate=48000 channels=2\n"
                          << "load-module module-native-protocol-unix socket=" << socket_
                          << " auth-anonymous=1\n";
    ChildOptions options;
    options.environment = {{"HOME", home},
                           {"XDG_CONFIG_HOME", scratch_ + "/config"},
                           {"PULSE_RUNTIME_PATH", scratch_ + "/runtime"},
                           {"PULSE_STATE_PATH", scratch_ + "/state"}};
    options.stdoutPath = options.stderrPath = Log("pulseaudio");
    sound_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"pulseaudio", "--daemonize=no", "--exit-idle-time=-1",
                                 "--system=false", "-n", "-F", script, "--disallow-exit",
                                 "--use-pid-file=false", "--disable-shm=true"},
        options);
    // The sink is loaded before the socket, so a connection means both are there.
    const auto deadline = Clock::now() + std::chrono::duration<double>(kStartSeconds);
    while (!CanConnect(socket_)) {
        if (sound_->WaitFor(0.02) || Clock::now() > deadline) {
            throw std::runtime_error("pulseaudio did not start: " + Tail(Log("pulseaudio")));
        }
    }
}

std::map<std::string, std::string> CaptureStage::SoundClientEnvironment() const {
    return {{"PULSE_SERVER", "unix:" + socket_}};
}

std::unique_ptr<ChildProcess> CaptureStage::Start(const std::vector<std::string>& argv,
                                                  const std::string& label) const {
    ChildOptions options;
    options.environment = SoundClientEnvironment();
    options.environment["DISPLAY"] = display_;
    options.stdoutPath = Log(label + ".out");
    options.stderrPath = Log(label + ".err");
    return std::make_unique<ChildProcess>(argv, options);
}

void CaptureStage::FillScreen(const std::string& colour) {
    auto painter = Start({"xsetroot", "-solid", colour}, "xsetroot");
    const auto exit = painter->WaitFor(kStartSeconds);
    if (!exit || exit->status != 0) {
        throw std::runtime_error("xsetroot -solid " + colour + " failed on " + display_ + ": " +
                                 Tail(Log("xsetroot.err")));
    }
}

std::string CaptureStage::AddPipeSource(const std::string& name) {
    const std::string fifo = scratch_ + "/" + name + ".fifo";
    auto load = Start({"pactl", "load-module", "module-pipe-source", "source_name=" + name,
                       "file=" + fifo, "format=s16le", "rate=48000", "channels=1"},
                      "pactl");
    const auto exit = load->WaitFor(kStartSeconds);
    if (!exit || exit->status != 0) {
        throw std::runtime_error("cannot add the pipe source " + name + ": " +
                                 Tail(Log("pactl.err")));
    }
    return fifo;
}

void CaptureStage::SuspendSink(bool suspended) {
    auto suspend = Start({"pactl", "suspend-sink", sink_, suspended ? "1" : "0"}, "pactl");
    const auto exit = suspend->WaitFor(kStartSeconds);
    if (!exit || exit->status != 0) {
        throw std::runtime_error("cannot suspend the sink " + sink_ + ": " +
                                 Tail(Log("pactl.err")));
    }
}

void CaptureStage::ResizeScreen(int width, int height) {
    // Xvfb's only output keeps its mode, which xrandr reports as an error; the screen changes
    // all the same.
    auto resize =
        Start({"xrandr", "--fb", std::to_string(width) + "x" + std::to_string(height)}, "xrandr");
    if (!resize->WaitFor(kStartSeconds)) {
        throw std::runtime_error("xrandr did not end on " + display_);
    }
}

void CaptureStage::PlayTone(double frequency) {
    StopTone();
    std::ostringstream source;
    source << "sine=frequency=" << frequency << ":sample_rate=48000";
    // A short buffer: by default the sink runs about 2 s behind and the sound comes in bursts.
    tone_ = Start({"ffmpeg", "-nostdin", "-v", "error", "-re", "-f", "lavfi", "-i", source.str(),
                   "-f", "pulse", "-buffer_duration", "100", "-device", sink_, "tone"},
                  "tone");
    const auto deadline = Clock::now() + std::chrono::duration<double>(kStartSeconds);
    while (true) {
        auto query = Start({"pactl", "list", "short", "sink-inputs"}, "pactl");
        const auto exit = query->WaitFor(kStartSeconds);
        if (exit && exit->status == 0 && !Tail(Log("pactl.out")).empty()) {
            return;
        }
        if (tone_->WaitFor(0.05) || Clock::now() > deadline) {
            throw std::runtime_error("the tone does not reach the sink: " + Tail(Log("tone.err")) +
                                     Tail(Log("pactl.err")));
        }
    }
}

void CaptureStage::StopTone() {
    tone_.reset();
}

}  // namespace Vantor::Testing
