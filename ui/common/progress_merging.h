// Which engine messages a window may merge while they wait for its interface
// thread: a newer per-file progress message or total-bar position replaces an
// older one of the same kind, but the message that completes a file is always
// delivered, so the final amounts are always shown.
#pragma once

#include <cstdint>

#include "transfer/window_messages.h"

namespace launcher::ui {

inline bool IsMergeableMessage(int controlId, unsigned message) {
    return message == kWmDownloadProgress ||
           (message == kPbmSetPos && controlId == kIdProgressTotal);
}

inline bool CompletesFile(unsigned message, std::uint32_t wParam, std::uint32_t lParam) {
    return message == kWmDownloadProgress && wParam == lParam;
}

}  // namespace launcher::ui
