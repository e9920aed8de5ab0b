// Starting other programs of the installation directory.
#pragma once

#include <string>
#include <vector>

namespace launcher {

// Starts ./name from the current directory without waiting. A name ending in
// ".exe" is looked up as given, then without the extension. Returns false when
// nothing could be started.
bool StartProgram(const std::string& name, const std::vector<std::string>& arguments);

// True when the file at `path` holds a program this platform can start (an
// executable image or a script), judged by its first bytes.
bool LooksLikeProgram(const std::string& path);

// Path of the running program file.
std::string CurrentProgramPath();

}  // namespace launcher
