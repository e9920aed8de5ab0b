// Starting other programs of the installation directory.
#pragma once

#include <string>
#include <vector>

namespace launcher {

// Starts ./name from the current directory without waiting. A name ending in
// ".exe" is looked up as given, then without the extension. Returns false when
// nothing could be started. The program inherits no descriptor but 0, 1 and 2.
// On Windows a console program started by a process with no console window
// (the launcher window) gets no console window either.
bool StartProgram(const std::string& name, const std::vector<std::string>& arguments);

struct ProgramRun {
    bool started = false;   // the program could be run at all
    bool timedOut = false;  // it was killed when its time was up
    bool exited = false;    // it ended by itself (not by a signal)
    int exitStatus = -1;
    std::string output;  // what it wrote to its standard output (the first 64 KiB)
};

// Runs `path` with `arguments` and waits for it at most `timeoutMs`; a program
// still running then is killed, with whatever it started. Its standard input
// is empty, its errors are discarded, it inherits no other descriptor.
ProgramRun RunProgramCapturingOutput(const std::string& path,
                                     const std::vector<std::string>& arguments, unsigned timeoutMs);

// True when the file at `path` holds a program this platform can start (an
// executable image or a script), judged by its first bytes.
bool LooksLikeProgram(const std::string& path);

// Path of the running program file.
std::string CurrentProgramPath();

}  // namespace launcher
