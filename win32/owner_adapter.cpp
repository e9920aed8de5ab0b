#include "win32/owner_adapter.h"

#include <deque>
#include <utility>

namespace launcher::win {

WinOwnerAdapter::WinOwnerAdapter(IEngineOwner& target, HWND window,
                                 std::shared_ptr<StopFlag> stop)
    : m_target(target), m_window(window), m_stop(std::move(stop)) {}

bool WinOwnerAdapter::Stopped() const {
    return m_stop->IsStopped();
}

void WinOwnerAdapter::ShowControl(int controlId, int showCommand) {
    Queue(ui::EngineCall::Show(controlId, showCommand), true);
}

void WinOwnerAdapter::SetControlText(int controlId, const std::string& text) {
    Queue(ui::EngineCall::Text(controlId, text), true);
}

void WinOwnerAdapter::SendMessageTo(int controlId, unsigned message, std::uint32_t wParam,
                                    std::uint32_t lParam) {
    Queue(ui::EngineCall::Message(controlId, message, wParam, lParam), false);
}

void WinOwnerAdapter::OnCancel() {
    Queue(ui::EngineCall::Cancel(), true);
}

void WinOwnerAdapter::Queue(ui::EngineCall call, bool wait) {
    if (Stopped()) return;
    {
        std::lock_guard lock(m_mutex);
        if (m_detached) return;
        m_queue.Push(std::move(call));
    }
    // Messages wait for the dialog's drain timer, which, unlike a posted
    // message, never keeps the window from painting.
    if (wait) ::SendMessageW(m_window, kWmEngineCalls, 0, 0);
}

void WinOwnerAdapter::Detach() {
    std::lock_guard lock(m_mutex);
    m_detached = true;
    m_queue.Clear();
}

void WinOwnerAdapter::Drain() {
    std::deque<ui::EngineCall> calls;
    {
        std::lock_guard lock(m_mutex);
        if (m_detached) return;
        calls = m_queue.TakeAll();
    }
    for (const ui::EngineCall& call : calls) {
        if (Stopped()) return;
        call.PerformOn(m_target);
    }
}

}  // namespace launcher::win
