// The display choice of the settings dialog, for the rest of the run: a
// windowed or a full-screen resolution from a fixed list of nine. Nothing is
// saved between runs.
#pragma once

#include <array>
#include <string>

namespace launcher {

// 0 windowed, 1 full-screen.
extern int g_bFullScreen;
// The chosen resolution as the list shows it, "1024X768" at start.
extern std::string g_strResolution;

// Both lists of the dialog, in this order (already sorted). Four-digit widths
// and three-digit heights, which the game's command line relies on.
inline constexpr std::array<const char*, 9> kResolutions{"1024X768", "1152X864", "1280X768",
                                                         "1280X800", "1280X960", "1360X768",
                                                         "1366X768", "1440X900", "1600X900"};

}  // namespace launcher
