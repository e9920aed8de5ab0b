// LauncherCli: runs the update engine in the current directory exactly as the
// launcher's worker does, with the terminal as its window.
#include "cli/run_cli.h"

#include <cstdio>
#include <memory>
#include <vector>

#include "cli/cli_options.h"
#include "cli/console_message_boxes.h"
#include "cli/printable_text.h"
#include "cli/terminal_owner.h"
#include "engine/file_index_run.h"
#include "engine/game_command_line.h"
#include "engine/globals.h"
#include "engine/my_fun.h"
#include "engine/version_records.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "platform/single_instance.h"
#include "platform/stop_flag.h"
#include "platform/terminal.h"
#include "window/engine_run.h"

namespace launcher {

int RunCli(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    CliOptions options = ParseCliOptions(arguments, BuiltInDeployment());
    if (!options.error.empty()) {
        std::fprintf(stderr, "LauncherCli: %s\n\n%s", options.error.c_str(), CliUsage().c_str());
        return kExitUsage;
    }
    if (options.showHelp) {
        std::fputs(CliUsage().c_str(), stdout);
        return kExitUpToDate;
    }

    // The same start-up as the window: decompressor first, then our own version.
    const auto stop = std::make_shared<StopFlag>();
    ui::EngineRun run;
    run.Prepare({.deployment = options.deployment,
                 .applicationName = "LauncherCli",
                 .messageBoxes = std::make_shared<ConsoleMessageBoxes>(),
                 .stop = stop,
                 .maxBytesPerSecond = options.maxRate,
                 .logPath = options.logPath,
                 .repair = options.repair});
    if (options.showVersion) {
        std::printf("LauncherCli %s\n", g_strLauncherVersion.c_str());
        return kExitUpToDate;
    }

    // One launcher per installation: two would share the temporary names.
    // Without the lock nothing is run: only a lock held elsewhere means another
    // launcher, any other failure is told as it is.
    if (!run.LockInstance(kLauncherLockName)) {
        const std::string failure = run.LockFailure();
        std::fprintf(stderr, "LauncherCli: %s\n",
                     failure.empty() ? "another launcher is running in this directory"
                                     : failure.c_str());
        return kExitFailed;
    }

    OnInterruptRequest([stop] { stop->RequestStop(); });

    auto owner = std::make_shared<TerminalOwner>(stderr, StderrIsTerminal(), SystemClock());
    if (!run.Start(owner)) {
        std::fprintf(stderr, "LauncherCli: could not start the update\n");
        return kExitFailed;
    }
    run.Join();
    owner->FinishLine();
    if (const std::string summary = owner->Summary(); !summary.empty())
        std::fprintf(stderr, "%s\n", summary.c_str());
    if (const std::string summary = IndexSummary(); !summary.empty())
        std::fprintf(stderr, "%s\n", summary.c_str());

    if (g_fSelfUpdate == 2.0f) {
        std::fprintf(stderr,
                     "A replacement launcher was downloaded to ./%s; the window launcher hands "
                     "over to %s to install it.\n",
                     kReplacementLauncher, kUpdaterProgram);
        return kExitReplacementDownloaded;
    }
    if (stop->IsStopped()) {
        std::fprintf(stderr, "LauncherCli: stopped before the client was up to date\n");
        return kExitFailed;
    }
    if (g_nLaunchBlock != 0) {
        std::string reason = PrintableText(FailureReason());
        if (reason.empty()) reason = "the update did not finish";
        std::fprintf(stderr, "LauncherCli: update failed: %s\n", reason.c_str());
        return kExitFailed;
    }
    std::fprintf(stderr, "The client is up to date (patch %d).\n", CMyFun::m_nClientVersion.load());
    // Up to date, but the repair asked for could not be made at all.
    if (options.repair && IndexSummary().empty()) {
        std::fprintf(stderr, "LauncherCli: no repair: %s\n", PrintableText(FailureReason()).c_str());
        return kExitFailed;
    }
    if (options.startGame) {
        const std::string parameters = BuildGameCommandLine(0, "1024X768");
        if (!StartProgram(kGameProgram, {parameters})) {
            std::fprintf(stderr, "LauncherCli: could not start ./%s\n", kGameProgram);
            return kExitFailed;
        }
    }
    return kExitUpToDate;
}

}  // namespace launcher
