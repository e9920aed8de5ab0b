#include "engine/game_command_line.h"

namespace launcher {

std::string BuildGameCommandLine(int fullScreen, const std::string& resolution) {
    const std::string mode = fullScreen == 1 ? "1" : "2";
    // Every resolution of the list has a four-digit width and a three-digit height.
    const std::string width = resolution.substr(0, 4);
    const std::string height =
        resolution.size() <= 3 ? resolution : resolution.substr(resolution.size() - 3);
    return "/100/0/" + mode + "/" + width + "/" + height + "\n";
}

}  // namespace launcher
