#pragma once

// What the capture stages share: a scratch directory for sockets, readiness by socket, the last
// words of a server's log. Nothing here depends on GoogleTest.

#include <string>

namespace Vantor::Testing {

// A fresh directory whose socket paths stay under the 108 bytes a Unix socket name may have.
// Throws std::runtime_error when it can not be made.
std::string MakeScratch();

// Whether a Unix stream socket at `socketPath` accepts a connection.
bool CanConnect(const std::string& socketPath);

// The last few hundred bytes of the file at `path`.
std::string Tail(const std::string& path);

// Throws std::runtime_error naming the Debian package when `program` is not in PATH.
void Require(const std::string& program, const std::string& package);

}  // namespace Vantor::Testing
