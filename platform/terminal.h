// Console services for the console front end.
#pragma once

#include <functional>

namespace launcher {

// True when stderr is a terminal (progress bars) rather than a file or pipe.
bool StderrIsTerminal();

// Calls `handler` once, on a thread of its own, when the process is asked to
// stop (Ctrl-C, SIGTERM). Later requests end the process at once.
void OnInterruptRequest(std::function<void()> handler);

}  // namespace launcher
