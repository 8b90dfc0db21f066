#pragma once

// A screen and a sound card of our own to record from: an Xvfb server of 1280x720x24 on a free
// display, and a PulseAudio server whose only device is a null sink, with its socket, state and
// configuration in a private scratch directory. Whatever plays into the sink comes out of its
// monitor source. Both servers, and a tone playing, are stopped by PID when the stage dies.
// Nothing here depends on GoogleTest.

#include <map>
#include <memory>
#include <string>

#include "tests/Support/ChildProcess.h"

namespace Vantor::Testing {

class CaptureStage {
public:
    static constexpr int kWidth = 1280;
    static constexpr int kHeight = 720;

    // Starts both servers and returns once they accept clients. Throws std::runtime_error
    // saying what is missing or what failed (with the server's own last words).
    CaptureStage();
    ~CaptureStage();
    CaptureStage(const CaptureStage&) = delete;
    CaptureStage& operator=(const CaptureStage&) = delete;

    // The X display, e.g. ":3".
    const std::string& Display() const { return display_; }
    // The null sink's name; its monitor source is MonitorSource().
    const std::string& Sink() const { return sink_; }
    std::string MonitorSource() const { return sink_ + ".monitor"; }
    // What a sound client needs in its environment to reach this server: PULSE_SERVER.
    std::map<std::string, std::string> SoundClientEnvironment() const;
    // The scratch directory, for logs of programs run against the stage.
    const std::string& Scratch() const { return scratch_; }

    // Paints the whole screen `colour` ("#2080e0", or an X colour name); throws on failure.
    void FillScreen(const std::string& colour);
    // Plays a sine of `frequency` Hz into the sink until StopTone or the stage's end, replacing
    // a tone already playing; returns once the sink has the stream.
    void PlayTone(double frequency);
    void StopTone();

    // Sends `signal` to the X server or to the sound server: SIGSTOP makes a device that takes
    // connections and never answers, SIGCONT undoes that, SIGKILL makes it vanish.
    void SignalScreenServer(int signal) const { x_->Signal(signal); }
    void SignalSoundServer(int signal) const { sound_->Signal(signal); }
    // Suspends the null sink, and with it its monitor, which then delivers nothing; or wakes it.
    void SuspendSink(bool suspended);
    // Adds a PulseAudio source `name` that records what is written into the FIFO it answers
    // (48 kHz mono s16): a sound card whose clock is whoever writes. Throws on failure.
    std::string AddPipeSource(const std::string& name);
    // Changes the screen's size, as a user choosing another resolution would; throws on failure.
    void ResizeScreen(int width, int height);

    // Starts `argv` with the X display as DISPLAY and the sound server in its environment,
    // its output kept in files of the scratch directory named after `label`.
    std::unique_ptr<ChildProcess> Start(const std::vector<std::string>& argv,
                                        const std::string& label) const;

private:
    void StartX();
    void StartSound();
    std::string Log(const std::string& label) const;

    std::string scratch_;
    std::string display_;
    std::string sink_ = "lumotest";
    std::string socket_;
    std::unique_ptr<ChildProcess> x_;
    std::unique_ptr<ChildProcess> sound_;
    std::unique_ptr<ChildProcess> tone_;
};

}  // namespace Vantor::Testing
