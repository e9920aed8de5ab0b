// The engine's owner calls while they wait for a window's interface thread.
//
// Calls stay in the order the worker made them. While one waits, a newer
// per-file progress message or total-bar position replaces the newest queued
// message of the same kind for the same control, as long as only such
// messages follow that one and it does not complete a file (L == T): the
// final amounts of every file are always delivered.
//
// Not thread-safe: the window's adapter guards it with its own lock.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "owner/engine_owner.h"

namespace launcher::ui {

struct EngineCall {
    enum class Kind { kShow, kText, kMessage, kCancel };

    static EngineCall Show(int controlId, int showCommand);
    static EngineCall Text(int controlId, std::string text);
    static EngineCall Message(int controlId, unsigned message, std::uint32_t wParam,
                              std::uint32_t lParam);
    static EngineCall Cancel();

    // Carries the call out on `owner`.
    void PerformOn(IEngineOwner& owner) const;
    bool Mergeable() const;

    Kind kind = Kind::kShow;
    int control = 0;
    int show = 0;
    unsigned message = 0;
    std::uint32_t wParam = 0;
    std::uint32_t lParam = 0;
    std::string text;
    std::uint64_t ticket = 0;  // the adapter's: nonzero while a worker waits for the call
};

class EngineCallQueue {
public:
    // False when `call` was merged into a queued message: nothing new waits.
    bool Push(EngineCall call);
    // Everything queued, oldest first; the queue is empty after.
    std::deque<EngineCall> TakeAll();
    void Clear() { calls_.clear(); }

private:
    std::deque<EngineCall> calls_;
};

}  // namespace launcher::ui
