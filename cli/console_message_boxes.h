#pragma once

#include <cstdio>

#include "cli/printable_text.h"
#include "platform/message_box.h"

namespace launcher {

// The engine's message boxes as lines on stderr.
class ConsoleMessageBoxes final : public IMessageBoxes {
public:
    void Show(const std::string& caption, const std::string& text) override {
        std::fprintf(stderr, "\n%s: %s\n", caption.c_str(), PrintableText(text).c_str());
        std::fflush(stderr);
    }
};

}  // namespace launcher
