#pragma once

// The desktop's screen-cast portal (org.freedesktop.portal.ScreenCast) on the session bus: it
// asks the user which monitor or window to share, and hands over a PipeWire connection that
// carries the pictures.

#include <atomic>
#include <memory>
#include <optional>
#include <string>

namespace Vantor::Lumo::Recorder {

struct CastRequest {
    bool window = false;  // a window instead of a monitor
    bool cursor = true;   // the pointer drawn into the pictures, where the portal can
    // The token of an earlier permission; when the portal refuses it, the session is asked for
    // without it, and the dialog shows.
    std::optional<std::string> restoreToken;
};

class CastSession {
public:
    // Runs the handshake: CreateSession, SelectSources, Start (which may show the desktop's
    // dialog and waits for the user), OpenPipeWireRemote. Throws std::runtime_error with a line
    // for the user when there is no session bus, no portal, the portal can not record a window,
    // the user cancels, or the portal fails.
    explicit CastSession(const CastRequest& request);
    // Closes the portal session, so that the desktop stops sharing.
    ~CastSession();
    CastSession(const CastSession&) = delete;
    CastSession& operator=(const CastSession&) = delete;

    // The PipeWire connection and the node of the shared stream. The descriptor stays ours.
    int PipeWireFd() const;
    std::uint32_t Node() const;
    // The token to pass next time; empty when the portal gave none.
    const std::string& RestoreToken() const;
    // Whether the token of the request was refused (and the session asked for without it).
    bool TokenRefused() const;
    // Set once the desktop closed the session ("stop sharing").
    const std::shared_ptr<std::atomic<bool>>& Closed() const;

    struct Bus;

private:
    std::unique_ptr<Bus> bus_;
};

}  // namespace Vantor::Lumo::Recorder
