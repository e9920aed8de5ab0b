#include "window/launch_gate.h"

#include "engine/game_command_line.h"

namespace launcher::ui {

StartGameDecision DecideStartGame(int gate, int fullScreen, const std::string& resolution) {
    switch (gate) {
        case 0:
            return {true, {}, BuildGameCommandLine(fullScreen, resolution)};
        case 1:
            return {false, kNotUpToDateNotice, {}};
        case 2:
            return {false, kUpdateFailedNotice, {}};
        default:
            return {};  // no value we store: neither start nor say anything
    }
}

}  // namespace launcher::ui
