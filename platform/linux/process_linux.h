#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace trayvo {

// Starts argv[0] (looked up in PATH unless it holds a slash) with the given
// arguments, each handed over unchanged: no shell ever sees them. The program
// is detached: it outlives us and we never wait for it to end. Run as root
// on a desktop user's behalf (sudo, pkexec), it runs as that user, in that
// user's session.
//
// Returns false when it could not be started (not found, not executable, out
// of resources), or when it ended with a failure within failureWait; true
// when it started and either succeeded or was still running by then.
bool startDetached(const std::vector<std::string>& argv, std::chrono::milliseconds failureWait = {});

} // namespace trayvo
