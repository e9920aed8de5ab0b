// The updater's work: wait for the launcher to end, put the replacement in
// place of the launcher's program file, start it.
#pragma once

#include <functional>
#include <string>

#include "platform/single_instance.h"

namespace launcher {

// Longer waits for the launcher to end are a mistake on the command line.
inline constexpr unsigned kMaxWaitSeconds = 3600;

struct UpdaterOptions {
    // The launcher's program file; empty: "Launcher.exe", else "Launcher".
    std::string target;
    std::string replacement = "Launcher.exe_";
    // How long to wait for the running launcher to end.
    unsigned waitSeconds = 30;
    // The launcher's single-instance lock.
    std::string lockName = kLauncherLockName;
    // How long the replacement may take to answer --version before it is
    // killed and refused.
    unsigned versionTimeoutMs = 5000;
    bool startLauncher = true;
    // Last look at the replacement before the swap (a build with a key checks
    // it against the manifest the launcher verified); empty: none.
    std::function<bool(const std::string& replacement, std::string& why)> checkReplacement;
};

struct UpdaterResult {
    bool ok = false;
    std::string message;  // what was done, or why nothing was replaced
};

// Runs in the installation directory (the current directory). On any failure
// the old launcher stays as it was.
UpdaterResult UpdateLauncher(const UpdaterOptions& options,
                             const std::function<void(unsigned ms)>& sleep);

}  // namespace launcher
