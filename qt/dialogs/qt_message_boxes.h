// The engine's message boxes in the window: a box of its own (not modal to the
// launcher, which stays usable) shown by the interface thread while the
// worker waits for it to be closed. A stop request ends the wait and closes
// the box.
#pragma once

#include <memory>
#include <string>

#include "platform/message_box.h"
#include "platform/stop_flag.h"

namespace launcher::ui {

class QtMessageBoxes final : public IMessageBoxes {
public:
    explicit QtMessageBoxes(std::shared_ptr<StopFlag> stop);
    ~QtMessageBoxes() override;

    // Any thread; returns once the box was closed or a stop was requested.
    void Show(const std::string& caption, const std::string& text) override;

private:
    struct Shared;
    std::shared_ptr<StopFlag> m_stop;
    std::shared_ptr<Shared> m_shared;
};

}  // namespace launcher::ui
