#pragma once

#include <string>
#include <vector>

namespace trayvo {

// Starts argv[0] (looked up in PATH unless it holds a slash) with the given
// arguments, each handed over unchanged: no shell ever sees them. The program
// is detached: it outlives us and we never wait for it. Returns false when it
// could not be started (not found, not executable, out of resources).
bool startDetached(const std::vector<std::string>& argv);

} // namespace trayvo
