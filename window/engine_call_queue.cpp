#include "window/engine_call_queue.h"

#include <utility>

namespace launcher::ui {
namespace {

// Per-file progress and the total bar's position: only the newest counts.
bool IsMergeableMessage(int controlId, unsigned message) {
    return message == kWmDownloadProgress ||
           (message == kPbmSetPos && controlId == kIdProgressTotal);
}

bool CompletesFile(unsigned message, std::uint32_t wParam, std::uint32_t lParam) {
    return message == kWmDownloadProgress && wParam == lParam;
}

}  // namespace

EngineCall EngineCall::Show(int controlId, int showCommand) {
    EngineCall call;
    call.kind = Kind::kShow;
    call.control = controlId;
    call.show = showCommand;
    return call;
}

EngineCall EngineCall::Text(int controlId, std::string text) {
    EngineCall call;
    call.kind = Kind::kText;
    call.control = controlId;
    call.text = std::move(text);
    return call;
}

EngineCall EngineCall::Message(int controlId, unsigned message, std::uint32_t wParam,
                               std::uint32_t lParam) {
    EngineCall call;
    call.kind = Kind::kMessage;
    call.control = controlId;
    call.message = message;
    call.wParam = wParam;
    call.lParam = lParam;
    return call;
}

EngineCall EngineCall::Cancel() {
    EngineCall call;
    call.kind = Kind::kCancel;
    return call;
}

void EngineCall::PerformOn(IEngineOwner& owner) const {
    switch (kind) {
        case Kind::kShow:
            owner.ShowControl(control, show);
            break;
        case Kind::kText:
            owner.SetControlText(control, text);
            break;
        case Kind::kMessage:
            owner.SendMessageTo(control, message, wParam, lParam);
            break;
        case Kind::kCancel:
            owner.OnCancel();
            break;
    }
}

bool EngineCall::Mergeable() const {
    return kind == Kind::kMessage && ticket == 0 && IsMergeableMessage(control, message);
}

bool EngineCallQueue::Push(EngineCall call) {
    if (call.Mergeable()) {
        for (auto it = calls_.rbegin(); it != calls_.rend() && it->Mergeable(); ++it) {
            if (it->control != call.control || it->message != call.message) continue;
            if (CompletesFile(it->message, it->wParam, it->lParam)) break;
            it->wParam = call.wParam;
            it->lParam = call.lParam;
            return false;
        }
    }
    calls_.push_back(std::move(call));
    return true;
}

std::deque<EngineCall> EngineCallQueue::TakeAll() {
    std::deque<EngineCall> calls;
    calls.swap(calls_);
    return calls;
}

}  // namespace launcher::ui
