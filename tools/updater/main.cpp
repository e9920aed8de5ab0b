// UpDateLauncher: started by the launcher, with no arguments, after it has
// downloaded a replacement of itself.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "engine/update_verifier.h"
#include "tools/updater/update_launcher.h"

int main(int argc, char** argv) {
    launcher::UpdaterOptions options;
    options.checkReplacement = launcher::BuiltInReplacementCheck();
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--target" && i + 1 < argc) {
            options.target = argv[++i];
        } else if (arg == "--wait-seconds" && i + 1 < argc) {
            options.waitSeconds = static_cast<unsigned>(std::atoi(argv[++i]));
        } else if (arg == "--no-start") {
            options.startLauncher = false;
        } else {
            std::fprintf(stderr,
                         "Usage: UpDateLauncher [--target PROGRAM] [--wait-seconds N] [--no-start]\n"
                         "Run in the installation directory: replaces the launcher by "
                         "Launcher.exe_ and starts it.\n");
            return arg == "--help" ? 0 : 2;
        }
    }
    auto result = launcher::UpdateLauncher(options, [](unsigned ms) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    });
    std::fprintf(result.ok ? stdout : stderr, "UpDateLauncher: %s\n", result.message.c_str());
    return result.ok ? 0 : 1;
}
