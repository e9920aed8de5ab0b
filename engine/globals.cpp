#include "engine/globals.h"

namespace launcher {

std::atomic<int> g_nLaunchBlock{1};
std::atomic<float> g_fSelfUpdate{0.0f};
std::string g_strLauncherVersion;

}  // namespace launcher
