// Console services for the console front end.
#pragma once

#include <functional>
#include <string>

namespace launcher {

// True when stderr is a terminal (progress bars) rather than a file or pipe.
bool StderrIsTerminal();

// Tells the player why `program` failed: "program: message" on stderr, or,
// where nobody would read that (on Windows a console program started without
// a console window, as the launcher window starts the updater), `message` in a
// message box titled `program`, returning once it is closed.
void TellPlayer(const std::string& program, const std::string& message);

// Calls `handler` once, on a thread of its own, when the process is asked to
// stop (Ctrl-C, SIGTERM). Later requests end the process at once.
void OnInterruptRequest(std::function<void()> handler);

}  // namespace launcher
