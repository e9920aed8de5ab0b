// The window's own settings, kept beside the client in a small text file the
// player may edit: one "name=value" a line. Read once at start.
#pragma once

#include <cstdint>
#include <string>

namespace launcher::ui {

inline constexpr const char* kWindowSettingsName = "launcher.cfg";

// "max-rate=2M": the bandwidth cap in bytes per second (as LauncherCli's
// --max-rate); 0 when the file, the line or a usable value is missing.
std::uint64_t MaxRateSetting(const std::string& contents);
std::uint64_t ReadMaxRateSetting(const std::string& path = kWindowSettingsName);

}  // namespace launcher::ui
