#include "tests/Support/WaylandStage.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <gio/gio.h>

#include "tests/Support/StageFiles.h"

namespace Vantor::Testing {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr double kStartSeconds = 15.0;  // generous: a loaded two-core machine
constexpr const char* kBackendName = "org.freedesktop.impl.portal.desktop.wlr";
constexpr const char* kLibexec = "/usr/libexec/";

void WaitUntil(const std::function<bool()>& ready, ChildProcess& process, const std::string& what,
               const std::string& log) {
    const auto deadline = Clock::now() + std::chrono::duration<double>(kStartSeconds);
    while (!ready()) {
        if (process.WaitFor(0.02) || Clock::now() > deadline) {
            throw std::runtime_error(what + " did not start: " + Tail(log));
        }
    }
}

// The shim in the backend looks for these files.
void Switch(const std::string& path, bool on) {
    if (on) {
        std::ofstream(path).flush();
    } else {
        fs::remove(path);
    }
}

void Write(const std::string& path, const std::string& text) {
    std::ofstream file(path);
    file << text;
    if (!file.flush()) {
        throw std::runtime_error("cannot write " + path);
    }
}

// A copy of a PipeWire or WirePlumber configuration without module-rt: as root they would
// raise their threads to real-time priority on a machine others share.
void WriteWithoutRealtime(const std::string& from, const std::string& to) {
    std::ifstream file(from);
    std::ostringstream text;
    text << file.rdbuf();
    if (text.str().empty()) {
        throw std::runtime_error("cannot read " + from);
    }
    fs::create_directories(fs::path(to).parent_path());
    Write(to, std::regex_replace(text.str(), std::regex("name = libpipewire-module-rt\\b"),
                                 "name = libpipewire-module-rt-left-out"));
}

}  // namespace

WaylandStage::WaylandStage(const std::string& colour, bool stripe) : stripe_(stripe) {
    Require("sway", "sway");
    Require("setpriv", "util-linux");
    Require("dbus-daemon", "dbus-daemon");
    Require("pipewire", "pipewire-bin");
    Require("wireplumber", "wireplumber");
    Require(std::string(kLibexec) + "xdg-desktop-portal", "xdg-desktop-portal");
    Require(std::string(kLibexec) + "xdg-desktop-portal-wlr", "xdg-desktop-portal-wlr");
    scratch_ = MakeScratch();
    try {
        // sway runs as nobody, which must reach its own directory and its configuration.
        ::chmod(scratch_.c_str(), 0711);
        for (const char* folder : {"home", "config", "state", "runtime", "sway"}) {
            fs::create_directories(scratch_ + "/" + folder);
        }
        ::chmod((scratch_ + "/runtime").c_str(), 0700);
        Paint(colour);
        StartSway();
        StartBus();
        StartServices();
    } catch (...) {
        Teardown();
        throw;
    }
}

WaylandStage::~WaylandStage() {
    Teardown();
}

void WaylandStage::Teardown() {
    painter_.reset();
    portal_.reset();
    backend_.reset();
    permissions_.reset();
    wireplumber_.reset();
    pipewire_.reset();
    if (connection_) {
        g_dbus_connection_close_sync(connection_, nullptr, nullptr);
        g_object_unref(connection_);
        connection_ = nullptr;
    }
    bus_.reset();
    sway_.reset();
    if (!scratch_.empty()) {
        std::error_code ignored;
        fs::remove_all(scratch_, ignored);
        scratch_.clear();
    }
}

std::string WaylandStage::Log(const std::string& label) const {
    return scratch_ + "/" + label + ".log";
}

std::map<std::string, std::string> WaylandStage::Environment() const {
    return {{"HOME", scratch_ + "/home"},
            {"XDG_CONFIG_HOME", scratch_ + "/config"},
            {"XDG_STATE_HOME", scratch_ + "/state"},
            {"XDG_DATA_HOME", scratch_ + "/home/.local/share"},
            {"XDG_RUNTIME_DIR", scratch_ + "/runtime"},
            {"XDG_CURRENT_DESKTOP", "sway"},
            {"XDG_SESSION_TYPE", "wayland"},
            {"WAYLAND_DISPLAY", waylandDisplay_},
            {"DBUS_SESSION_BUS_ADDRESS", busAddress_},
            {"DISPLAY", ""}};
}

std::map<std::string, std::string> WaylandStage::ClientEnvironment() const {
    return Environment();
}

std::string WaylandStage::TokenPath() const {
    return scratch_ + "/state/lumo/screencast-token";
}

std::unique_ptr<ChildProcess> WaylandStage::Spawn(const std::vector<std::string>& argv,
                                                  const std::string& label,
                                                  std::map<std::string, std::string> extra) const {
    ChildOptions options;
    options.environment = Environment();
    for (auto& [name, value] : extra) {
        options.environment[name] = value;
    }
    options.stdoutPath = options.stderrPath = Log(label);
    return std::make_unique<ChildProcess>(argv, options);
}

void WaylandStage::StartSway() {
    // sway refuses to run as root: then it runs as nobody, everything else as ourselves.
    const std::string runtime = scratch_ + "/sway";
    swayRuntime_ = runtime;
    std::vector<std::string> argv;
    if (::geteuid() == 0) {
        const passwd* nobody = ::getpwnam("nobody");
        if (!nobody) {
            throw std::runtime_error("there is no user 'nobody' to run sway as");
        }
        if (::chown(runtime.c_str(), nobody->pw_uid, nobody->pw_gid) != 0) {
            throw std::runtime_error("cannot give " + runtime + " to nobody");
        }
        argv = {"setpriv", "--reuid=" + std::to_string(nobody->pw_uid),
                "--regid=" + std::to_string(nobody->pw_gid), "--clear-groups", "--"};
    }
    ::chmod(runtime.c_str(), 0700);
    const std::string config = scratch_ + "/sway.conf";
    Write(config,
          "xwayland disable\n"
          "output HEADLESS-1 mode " +
              std::to_string(kWidth) + "x" + std::to_string(kHeight) +
              " bg #000000 solid_color\n"
              "default_border none\n");
    ::chmod(config.c_str(), 0644);
    argv.insert(argv.end(), {"sway", "-c", config});
    sway_ = Spawn(argv, "sway",
                  {{"HOME", runtime},
                   {"XDG_RUNTIME_DIR", runtime},
                   {"XDG_CONFIG_HOME", runtime},
                   {"WLR_BACKENDS", "headless"},
                   {"WLR_RENDERER", "pixman"},
                   {"WLR_LIBINPUT_NO_DEVICES", "1"},
                   {"WAYLAND_DISPLAY", ""},
                   {"DBUS_SESSION_BUS_ADDRESS", ""}});
    // sway names its socket wayland-N in its runtime directory once it listens.
    WaitUntil(
        [&] {
            std::error_code error;
            for (const auto& entry : fs::directory_iterator(runtime, error)) {
                const std::string name = entry.path().filename().string();
                if (name.rfind("wayland-", 0) == 0 && name.find(".lock") == std::string::npos &&
                    CanConnect(entry.path().string())) {
                    waylandDisplay_ = entry.path().string();
                    return true;
                }
            }
            return false;
        },
        *sway_, "sway", Log("sway"));
}

void WaylandStage::StartBus() {
    // Nothing is started on demand: the services are ours to start and stop.
    const std::string socket = scratch_ + "/runtime/bus";
    const std::string config = scratch_ + "/bus.conf";
    fs::create_directories(scratch_ + "/services");
    Write(config,
          "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
          "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
          "<busconfig><type>session</type><listen>unix:path=" +
              socket + "</listen><servicedir>" + scratch_ +
              "/services</servicedir>"
              "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
              "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
    bus_ = Spawn({"dbus-daemon", "--config-file=" + config, "--nofork", "--nopidfile"}, "dbus");
    busAddress_ = "unix:path=" + socket;
    WaitUntil([&] { return CanConnect(socket); }, *bus_, "dbus-daemon", Log("dbus"));
    GError* error = nullptr;
    connection_ = g_dbus_connection_new_for_address_sync(
        busAddress_.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    if (!connection_) {
        const std::string message = error->message;
        g_error_free(error);
        throw std::runtime_error("cannot connect to the stage's bus: " + message);
    }
}

void WaylandStage::AwaitName(const std::string& name, ChildProcess& owner,
                             const std::string& label) {
    WaitUntil(
        [&] {
            GVariant* reply = g_dbus_connection_call_sync(
                connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                "org.freedesktop.DBus", "NameHasOwner", g_variant_new("(s)", name.c_str()),
                G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, 1000, nullptr, nullptr);
            gboolean owned = FALSE;
            if (reply) {
                g_variant_get(reply, "(b)", &owned);
                g_variant_unref(reply);
            }
            return owned == TRUE;
        },
        owner, label, Log(label));
}

void WaylandStage::StartServices() {
    const std::string config = scratch_ + "/config";
    WriteWithoutRealtime("/usr/share/pipewire/pipewire.conf", config + "/pipewire/pipewire.conf");
    WriteWithoutRealtime("/usr/share/wireplumber/wireplumber.conf",
                         config + "/wireplumber/wireplumber.conf");
    fs::create_directories(config + "/xdg-desktop-portal-wlr");
    Write(config + "/xdg-desktop-portal-wlr/config",
          "[screencast]\nchooser_type=none\noutput_name=HEADLESS-1\nmax_fps=30\n");

    pipewire_ = Spawn({"pipewire"}, "pipewire");
    const std::string pipewireSocket = scratch_ + "/runtime/pipewire-0";
    WaitUntil([&] { return CanConnect(pipewireSocket); }, *pipewire_, "pipewire", Log("pipewire"));
    wireplumber_ = Spawn({"wireplumber"}, "wireplumber");
    permissions_ =
        Spawn({std::string(kLibexec) + "xdg-permission-store", "--replace"}, "permission-store");
    AwaitName("org.freedesktop.impl.portal.PermissionStore", *permissions_, "permission-store");
    backend_ = Spawn({std::string(kLibexec) + "xdg-desktop-portal-wlr", "-l", "INFO"}, "backend",
                     {{"LD_PRELOAD", LUMO_TEST_SHIM_PATH},
                      {"LUMO_TEST_FREEZE_FILE", scratch_ + "/frozen"},
                      {"LUMO_TEST_FAIL_FILE", scratch_ + "/failing"}});
    AwaitName(kBackendName, *backend_, "backend");
    portal_ = Spawn({std::string(kLibexec) + "xdg-desktop-portal", "--replace"}, "portal");
    AwaitName("org.freedesktop.portal.Desktop", *portal_, "portal");
    std::vector<std::string> painter{LUMO_TEST_PAINTER_PATH, scratch_ + "/colour"};
    if (stripe_) {
        painter.push_back("--stripe");
    }
    painter_ = Spawn(painter, "painter");
}

void WaylandStage::Paint(const std::string& colour) {
    // Renamed into place, so the painter never reads half a colour.
    Write(scratch_ + "/colour.new", colour + "\n");
    fs::rename(scratch_ + "/colour.new", scratch_ + "/colour");
}

void WaylandStage::ResizeOutput(int width, int height) {
    std::string socket;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(swayRuntime_, error)) {
        if (entry.path().filename().string().rfind("sway-ipc.", 0) == 0) {
            socket = entry.path().string();
        }
    }
    if (socket.empty()) {
        throw std::runtime_error("sway has no IPC socket in " + swayRuntime_);
    }
    auto command = Spawn({"swaymsg", "-s", socket, "output", "HEADLESS-1", "mode",
                          std::to_string(width) + "x" + std::to_string(height)},
                         "swaymsg");
    const auto exit = command->WaitFor(kStartSeconds);
    if (!exit || exit->status != 0) {
        throw std::runtime_error("swaymsg could not resize the output: " + Tail(Log("swaymsg")));
    }
}

long WaylandStage::PaintedPictures() const {
    std::ifstream file(scratch_ + "/colour.count");
    long count = 0;
    file >> count;
    return count;
}

void WaylandStage::StopPortal() {
    portal_.reset();
}

void WaylandStage::FreezeCasts(bool frozen) {
    Switch(scratch_ + "/frozen", frozen);
}

void WaylandStage::FailCasts(bool failing) {
    Switch(scratch_ + "/failing", failing);
}

void WaylandStage::KillCastBackend() {
    backend_.reset();
}

void WaylandStage::CloseCasts() {
    // The portal takes Closed from whoever owns the backend's name, and refuses Session.Close
    // from anyone but the session's owner; so the backend's place is taken to say it.
    std::set<std::string> sessions;
    std::ifstream log(Log("backend"));
    const std::regex handle("session_handle: (/\\S+)");
    for (std::string line; std::getline(log, line);) {
        std::smatch match;
        if (std::regex_search(line, match, handle)) {
            sessions.insert(match[1]);
        }
    }
    if (sessions.empty()) {
        throw std::runtime_error("the portal backend served no session: " + Tail(Log("backend")));
    }
    backend_.reset();
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "RequestName", g_variant_new("(su)", kBackendName, 0u), G_VARIANT_TYPE("(u)"),
        G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error);
    if (!reply) {
        const std::string message = error->message;
        g_error_free(error);
        throw std::runtime_error("cannot take the backend's bus name: " + message);
    }
    g_variant_unref(reply);
    for (const std::string& session : sessions) {
        // With no arguments: the portal drops a Closed that carries any.
        g_dbus_connection_emit_signal(connection_, nullptr, session.c_str(),
                                      "org.freedesktop.impl.portal.Session", "Closed", nullptr,
                                      nullptr);
    }
    g_dbus_connection_flush_sync(connection_, nullptr, nullptr);
}

}  // namespace Vantor::Testing
