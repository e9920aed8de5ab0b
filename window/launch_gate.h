// The Start button's answer to the launch gate: refuse with a notice while the
// client is not known to be up to date, or start the game with the parameters
// of the current display choice.
#pragma once

#include <string>

namespace launcher::ui {

inline constexpr const char* kNotUpToDateNotice = "版本不是最新，请更新后再进入游戏";
inline constexpr const char* kUpdateFailedNotice =
    "更新失败,请检测确认游戏服务器可以登录，且是最新版本";

struct StartGameDecision {
    bool start = false;
    std::string notice;      // shown to the player; empty for none
    std::string parameters;  // the game's command line, when it starts
};

// `gate` is g_nLaunchBlock: 0 open, 1 not up to date, 2 the update failed.
StartGameDecision DecideStartGame(int gate, int fullScreen, const std::string& resolution);

}  // namespace launcher::ui
