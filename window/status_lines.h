// The two lines the launcher adds to the main dialog beside the described
// controls: the speed and time left of a download (right of the amounts, where
// the described row leaves room), and the reason of a failed update with the
// log's path (below the bars, in small text). Neither moves a described control.
#pragma once

#include <string>

#include "window/dialog_template.h"

namespace launcher::ui {

inline constexpr int kIdStaticSpeed = 1101;
inline constexpr int kIdStaticReason = 1102;
// Point size of both lines: smaller than the dialog's own text.
inline constexpr int kStatusLinePointSize = 8;

const ControlTemplate& SpeedLineTemplate();
const ControlTemplate& ReasonLineTemplate();

// The reason line once a run has ended: empty when it did not fail.
std::string FailureNoticeText(const std::string& reason, const std::string& logPath);

}  // namespace launcher::ui
