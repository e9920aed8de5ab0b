// Program-wide values shared by the engine and the window. Words that the
// worker writes and the interface thread reads are atomics.
#pragma once

#include <atomic>
#include <string>

namespace launcher {

// The launch gate: 1 at start, 0 once the client is up to date, 2 after a failed
// update run.
extern std::atomic<int> g_nLaunchBlock;
// 2.0 once a replacement launcher has been downloaded.
extern std::atomic<float> g_fSelfUpdate;
// The launcher's own FileVersion; written before the worker starts.
extern std::string g_strLauncherVersion;

}  // namespace launcher
