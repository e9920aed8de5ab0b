#pragma once

namespace launcher {

// Exit statuses of LauncherCli.
enum CliExit : int {
    kExitUpToDate = 0,
    kExitFailed = 1,
    kExitUsage = 2,
    kExitReplacementDownloaded = 3,
};

int RunCli(int argc, char** argv);

}  // namespace launcher
