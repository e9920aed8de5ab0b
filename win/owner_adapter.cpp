#include "win/owner_adapter.h"

#include <iterator>
#include <utility>

#include "ui/common/progress_merging.h"

namespace launcher::win {

WinOwnerAdapter::WinOwnerAdapter(IEngineOwner& target, HWND window,
                                 std::shared_ptr<StopFlag> stop)
    : m_target(target), m_window(window), m_stop(std::move(stop)) {}

bool WinOwnerAdapter::Stopped() const {
    return m_stop->IsStopped();
}

void WinOwnerAdapter::ShowControl(int controlId, int showCommand) {
    Call call;
    call.kind = Kind::kShow;
    call.control = controlId;
    call.show = showCommand;
    Queue(std::move(call), true);
}

void WinOwnerAdapter::SetControlText(int controlId, const std::string& text) {
    Call call;
    call.kind = Kind::kText;
    call.control = controlId;
    call.text = text;
    Queue(std::move(call), true);
}

void WinOwnerAdapter::SendMessageTo(int controlId, unsigned message, std::uint32_t wParam,
                                    std::uint32_t lParam) {
    Call call;
    call.kind = Kind::kMessage;
    call.control = controlId;
    call.message = message;
    call.wParam = wParam;
    call.lParam = lParam;
    Queue(std::move(call), false);
}

void WinOwnerAdapter::OnCancel() {
    Call call;
    call.kind = Kind::kCancel;
    Queue(std::move(call), true);
}

void WinOwnerAdapter::Queue(Call call, bool wait) {
    if (Stopped()) return;
    {
        std::lock_guard lock(m_mutex);
        if (m_detached) return;
        if (!wait && ui::IsMergeableMessage(call.control, call.message)) {
            // The newest message of this kind replaces an older one that only
            // other mergeable messages follow, unless that one completes a file.
            for (auto it = m_queue.rbegin(); it != m_queue.rend(); ++it) {
                if (it->kind != Kind::kMessage || !ui::IsMergeableMessage(it->control, it->message))
                    break;
                if (it->control != call.control || it->message != call.message) continue;
                if (!ui::CompletesFile(it->message, it->wParam, it->lParam))
                    m_queue.erase(std::next(it).base());
                break;
            }
        }
        m_queue.push_back(std::move(call));
    }
    // Messages wait for the dialog's drain timer, which, unlike a posted
    // message, never keeps the window from painting.
    if (wait) ::SendMessageW(m_window, kWmEngineCalls, 0, 0);
}

void WinOwnerAdapter::Detach() {
    std::lock_guard lock(m_mutex);
    m_detached = true;
    m_queue.clear();
}

void WinOwnerAdapter::Drain() {
    std::deque<Call> calls;
    {
        std::lock_guard lock(m_mutex);
        if (m_detached) return;
        calls.swap(m_queue);
    }
    for (const Call& call : calls) {
        if (Stopped()) return;
        switch (call.kind) {
            case Kind::kShow:
                m_target.ShowControl(call.control, call.show);
                break;
            case Kind::kText:
                m_target.SetControlText(call.control, call.text);
                break;
            case Kind::kMessage:
                m_target.SendMessageTo(call.control, call.message, call.wParam, call.lParam);
                break;
            case Kind::kCancel:
                m_target.OnCancel();
                break;
        }
    }
}

}  // namespace launcher::win
