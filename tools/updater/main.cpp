// UpDateLauncher: started by the launcher, with no arguments, after it has
// downloaded a replacement of itself.
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "engine/update_verifier.h"
#include "platform/terminal.h"
#include "tools/updater/update_launcher.h"

namespace {

constexpr const char* kProgram = "UpDateLauncher";

// Digits only, at most kMaxWaitSeconds: "-1" or "1e9" is bad usage, not a
// wait of years.
bool ParseWaitSeconds(const std::string& text, unsigned& seconds) {
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const unsigned long value = std::stoul(text);
    if (value > launcher::kMaxWaitSeconds) return false;
    seconds = static_cast<unsigned>(value);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    launcher::UpdaterOptions options;
    options.checkReplacement = launcher::BuiltInReplacementCheck();
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--target" && i + 1 < argc) {
            options.target = argv[++i];
        } else if (arg == "--wait-seconds" && i + 1 < argc) {
            if (!ParseWaitSeconds(argv[++i], options.waitSeconds)) {
                launcher::TellPlayer(kProgram, "--wait-seconds takes 0 to " +
                                                   std::to_string(launcher::kMaxWaitSeconds) +
                                                   " seconds");
                return 2;
            }
        } else if (arg == "--no-start") {
            options.startLauncher = false;
        } else {
            std::fprintf(stderr,
                         "Usage: UpDateLauncher [--target PROGRAM] [--wait-seconds 0-3600] "
                         "[--no-start]\n"
                         "Run in the installation directory: replaces the launcher by "
                         "Launcher.exe_ and starts it.\n");
            return arg == "--help" ? 0 : 2;
        }
    }
    auto result = launcher::UpdateLauncher(options, [](unsigned ms) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    });
    // Started by the window, it runs without a console: a failure then comes
    // in a message box; a success shows as the new launcher's window.
    if (!result.ok) {
        launcher::TellPlayer(kProgram, result.message);
        return 1;
    }
    std::printf("%s: %s\n", kProgram, result.message.c_str());
    return 0;
}
