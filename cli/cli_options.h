#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/deployment.h"

namespace launcher {

struct CliOptions {
    Deployment deployment;
    bool startGame = false;
    bool repair = false;
    bool showHelp = false;
    bool showVersion = false;
    std::string logPath = "launcher.log";  // empty: --no-log
    std::uint64_t maxRate = 0;             // bytes per second; 0: no cap
    std::string error;  // set when the command line is not usable
};

CliOptions ParseCliOptions(const std::vector<std::string>& arguments, Deployment defaults);
std::string CliUsage();

}  // namespace launcher
