#include "window/status_lines.h"

namespace launcher::ui {

namespace {

// Right of the total (static 1017 ends at 316) up to the bars' right edge.
constexpr ControlTemplate kSpeed{kIdStaticSpeed, ControlKind::kStatic, "", 318, 272, 84, 8,
                                 false, TextAlign::kRight};
// Under the total bar (it ends at 303), as wide as the bars: the reason
// over two lines and the log below it.
constexpr ControlTemplate kReason{kIdStaticReason, ControlKind::kStatic, "", 134, 305, 268, 28,
                                  false, TextAlign::kLeft};

}  // namespace

const ControlTemplate& SpeedLineTemplate() { return kSpeed; }
const ControlTemplate& ReasonLineTemplate() { return kReason; }

std::string FailureNoticeText(const std::string& reason, const std::string& logPath) {
    if (reason.empty()) return {};
    std::string text = reason;
    if (!logPath.empty()) text += "\n日志: " + logPath;
    return text;
}

}  // namespace launcher::ui
