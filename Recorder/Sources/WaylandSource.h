#pragma once

// A Wayland desktop as a picture source: the screen-cast portal asks the user what to share
// (once: its permission is kept, see RestoreToken.h), and PipeWire carries the pictures.

#include <atomic>
#include <memory>
#include <optional>

#include "Recorder/Sources/ScreenSource.h"
#include "Recorder/Sources/Source.h"

namespace Vantor::Lumo::Recorder {

struct WaylandRequest {
    std::optional<Region> region;  // cut from the shared picture; all of it when absent
    int fps = 30;
    bool window = false;       // ask for a window instead of a monitor
    bool cursor = true;        // the pointer drawn into the pictures, where the portal can
    bool forgetToken = false;  // drop the kept permission first, so the desktop asks again
    // Set when the desktop stops sharing ("stop sharing", the session closed, the stream
    // gone). The source then repeats its last picture: the caller ends the recording.
    std::shared_ptr<std::atomic<bool>> ended = std::make_shared<std::atomic<bool>>(false);
};

// Whether this is a Wayland session: WAYLAND_DISPLAY is set, or XDG_SESSION_TYPE=wayland.
bool InWaylandSession();

// Runs the portal's handshake, which waits for the user as long as the desktop's dialog is
// open, then waits up to 10 s for the first picture. The source gives BGR0 pictures of the
// first picture's size (or the region's), with even sides, fps times a second: a picture the
// screen did not send anew is the last one again, and a picture of another size is scaled into
// it with black borders. Throws std::runtime_error with a line for the user: no session bus, no
// portal, no window sharing, the dialog cancelled, the portal failed, no picture in 10 s, a
// region outside the picture. Logs (INFO) a refused token, which it then drops.
std::unique_ptr<Source> OpenWayland(const WaylandRequest& request);

}  // namespace Vantor::Lumo::Recorder
