// The game's parameters for a screen mode and a resolution.
#pragma once

#include <string>

namespace launcher {

inline constexpr const char* kGameProgram = "Corvatheon2.exe";
inline constexpr const char* kUpdaterProgram = "UpDateLauncher.exe";

// "/100/0/<mode>/<width>/<height>\n": mode "1" full-screen, "2" windowed; width
// the first four characters of `resolution`, height its last three.
std::string BuildGameCommandLine(int fullScreen, const std::string& resolution);

}  // namespace launcher
