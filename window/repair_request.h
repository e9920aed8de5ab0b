// The repair a player asks for in the display-settings dialog: its button,
// made beside the template's controls in the empty corner left of OK, and the
// texts around it. The run itself is EngineRun::StartRepair.
#pragma once

#include <string>

#include "window/dialog_template.h"

namespace launcher::ui {

inline constexpr int kIdRepair = 1103;
// The settings dialog's result when the player chose the repair.
inline constexpr int kRepairChosen = 3;

const ControlTemplate& RepairButtonTemplate();

// Said when the player asks while an update still runs.
inline constexpr const char* kRepairWhileUpdating = "正在更新，请在更新结束后再修复游戏文件";

// The reason line after a repair run: what it checked and mended, or why it
// could not; `summary` is the engine's account of the index's use.
std::string RepairNoticeText(const std::string& summary, const std::string& reason,
                             const std::string& logPath);

}  // namespace launcher::ui
