#pragma once

// A Wayland desktop of our own to record from: sway on a headless 1280x720 output (as user
// nobody, since it refuses to run as root), a private D-Bus session bus, PipeWire and
// WirePlumber, and the screen-cast portal with its wlroots backend, which shares the output
// without a dialog. A painter client keeps repainting the whole output in one colour, since a
// still screen sends the cast no pictures. Sockets, configuration and logs live in a private
// scratch directory; every process is stopped by PID when the stage dies. Nothing here
// depends on GoogleTest.

#include <map>
#include <memory>
#include <string>

#include "tests/Support/ChildProcess.h"

typedef struct _GDBusConnection GDBusConnection;

namespace Vantor::Testing {

class WaylandStage {
public:
    static constexpr int kWidth = 1280;
    static constexpr int kHeight = 720;

    // Starts everything, the output painted `colour` ("#rrggbb"), with a white stripe that
    // moves every picture when `stripe`, and returns once the portal is on the bus. Throws
    // std::runtime_error saying what is missing or what failed.
    explicit WaylandStage(const std::string& colour = "#000000", bool stripe = false);
    ~WaylandStage();
    WaylandStage(const WaylandStage&) = delete;
    WaylandStage& operator=(const WaylandStage&) = delete;

    // What a screen-cast client needs: WAYLAND_DISPLAY, XDG_SESSION_TYPE, the session bus,
    // and HOME, XDG_CONFIG_HOME, XDG_STATE_HOME and XDG_RUNTIME_DIR inside the scratch
    // directory.
    std::map<std::string, std::string> ClientEnvironment() const;
    // Where a client keeps the portal's restore token.
    std::string TokenPath() const;
    const std::string& Scratch() const { return scratch_; }

    // From the next picture on, the output shows `colour`.
    void Paint(const std::string& colour);
    // Gives the output another size, as a user choosing another mode would; throws on failure.
    void ResizeOutput(int width, int height);
    // The pictures the painter has made so far.
    long PaintedPictures() const;
    // The portal goes: clients find no screen-cast portal on the bus.
    void StopPortal();
    // While frozen, a cast that has started sends no pictures.
    void FreezeCasts(bool frozen);
    // While failing, the backend can not start a cast: the portal answers Start with a failure.
    void FailCasts(bool failing);
    // The desktop's "stop sharing": the backend goes, and its last act is the Closed signal of
    // every session it served, which the portal passes on. Throws when there was none.
    void CloseCasts();
    // The backend just dies: streams go away, no session says Closed.
    void KillCastBackend();

private:
    void Teardown();
    void StartSway();
    void StartBus();
    void StartServices();
    void AwaitName(const std::string& name, ChildProcess& owner, const std::string& label);
    std::unique_ptr<ChildProcess> Spawn(const std::vector<std::string>& argv,
                                        const std::string& label,
                                        std::map<std::string, std::string> extra = {}) const;
    std::map<std::string, std::string> Environment() const;
    std::string Log(const std::string& label) const;

    std::string scratch_;
    std::string waylandDisplay_;
    std::string swayRuntime_;
    std::string busAddress_;
    std::unique_ptr<ChildProcess> sway_;
    std::unique_ptr<ChildProcess> bus_;
    std::unique_ptr<ChildProcess> pipewire_;
    std::unique_ptr<ChildProcess> wireplumber_;
    std::unique_ptr<ChildProcess> permissions_;
    std::unique_ptr<ChildProcess> backend_;
    std::unique_ptr<ChildProcess> portal_;
    std::unique_ptr<ChildProcess> painter_;
    GDBusConnection* connection_ = nullptr;
    bool stripe_ = false;
};

}  // namespace Vantor::Testing
