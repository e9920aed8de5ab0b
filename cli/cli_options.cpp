#include "cli/cli_options.h"

#include "engine/byte_rate.h"

namespace launcher {

std::string CliUsage() {
    return "Usage: LauncherCli [options]\n"
           "Brings the client in the current directory up to the latest patch level.\n"
           "\n"
           "  --version-host HOST[:PORT]   host of the version list (default: built in)\n"
           "  --download-host HOST[:PORT]  host of the patch packages (default: built in)\n"
           "  --start-game                 start the game once the client is up to date\n"
           "  --repair                     check every file against the server's file index\n"
           "                               (FILES.IDX) and mend those missing or damaged\n"
           "  --log PATH                   append the run's log to PATH (default: launcher.log)\n"
           "  --no-log                     write no log\n"
           "  --max-rate RATE              download at most RATE bytes per second\n"
           "                               (a number, optionally with K, M or G: 2M)\n"
           "  --help                       show this text\n"
           "  --version                    show the launcher version\n"
           "\n"
           "A host may carry its scheme (http://, https://); http:// is assumed otherwise.\n"
           "Exit status: 0 up to date, 1 update failed or stopped, 2 bad usage,\n"
           "3 a replacement launcher was downloaded (see Launcher.exe_).\n";
}

CliOptions ParseCliOptions(const std::vector<std::string>& arguments, Deployment defaults) {
    CliOptions options;
    options.deployment = std::move(defaults);
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& arg = arguments[i];
        auto value = [&](std::string& target) {
            if (i + 1 >= arguments.size() || arguments[i + 1].empty()) {
                options.error = arg + " needs a host";
                return;
            }
            target = NormalizeOrigin(arguments[++i]);
        };
        if (arg == "--version-host") {
            value(options.deployment.versionHost);
        } else if (arg == "--download-host") {
            value(options.deployment.downloadHost);
        } else if (arg == "--log") {
            if (i + 1 >= arguments.size() || arguments[i + 1].empty())
                options.error = "--log needs a path";
            else
                options.logPath = arguments[++i];
        } else if (arg == "--no-log") {
            options.logPath.clear();
        } else if (arg == "--max-rate") {
            if (i + 1 >= arguments.size() || !ParseByteRate(arguments[i + 1], options.maxRate))
                options.error = "--max-rate needs a rate such as 500K or 2M";
            else
                ++i;
        } else if (arg == "--repair") {
            options.repair = true;
        } else if (arg == "--start-game") {
            options.startGame = true;
        } else if (arg == "--help" || arg == "-h") {
            options.showHelp = true;
        } else if (arg == "--version") {
            options.showVersion = true;
        } else {
            options.error = "unknown option: " + arg;
        }
        if (!options.error.empty()) break;
    }
    return options;
}

}  // namespace launcher
