#pragma once

// The screen-cast portal's restore token, kept between recordings so that the desktop asks the
// user only once: $XDG_STATE_HOME/lumo/screencast-token (~/.local/state when XDG_STATE_HOME is
// unset), readable by its owner only.

#include <optional>
#include <string>

namespace Vantor::Lumo::Recorder {

// Where the token lives; empty when neither XDG_STATE_HOME nor HOME is set.
std::string RestoreTokenPath();

// The stored token; nothing when there is none or it can not be read.
std::optional<std::string> LoadRestoreToken();

// Keeps `token` for the next recording, with mode 0600. A failure is logged, not thrown: the
// recording goes on, and the desktop asks again next time.
void SaveRestoreToken(const std::string& token);

// Drops the stored token, if any.
void ForgetRestoreToken();

}  // namespace Vantor::Lumo::Recorder
