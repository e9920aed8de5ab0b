// Message boxes of the engine. In the window a non-modal box on the interface
// thread while the worker waits for it; in the console a line on stderr; in
// tests a recording fake.
#pragma once

#include <string>

namespace launcher {

class IMessageBoxes {
public:
    virtual ~IMessageBoxes() = default;
    // Shows `text` with an OK button under `caption` and returns once it is closed.
    virtual void Show(const std::string& caption, const std::string& text) = 0;
};

}  // namespace launcher
