#include "window/repair_request.h"

#include "window/status_lines.h"

namespace launcher::ui {

namespace {

// Left of OK (x 91) on the buttons' row, from the group box's left edge.
constexpr ControlTemplate kRepair{kIdRepair, ControlKind::kPushButton, "修复游戏文件", 22, 108, 62,
                                  14, true};

}  // namespace

const ControlTemplate& RepairButtonTemplate() { return kRepair; }

std::string RepairNoticeText(const std::string& summary, const std::string& reason,
                             const std::string& logPath) {
    if (!reason.empty()) return FailureNoticeText("repair: " + reason, logPath);
    if (summary.empty()) return "repair: the server publishes no file index to check the files against";
    return "repair: " + summary;
}

}  // namespace launcher::ui
