// Carries the engine's calls from the worker thread to the main dialog.
//
// Every call joins one FIFO queue in the order the worker made it. Show, text
// and cancel calls are delivered with SendMessage, which returns once the
// interface thread has carried out the queue up to and including that call.
// Progress messages only join the queue, so the download never waits for
// painting; the dialog drains it on a short timer. While they wait, progress
// messages merge as ui::EngineCallQueue says.
// Once the stop flag is set or the dialog detached, calls do nothing.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "owner/engine_owner.h"
#include "platform/stop_flag.h"
#include "window/engine_call_queue.h"

namespace launcher::win {

class WinOwnerAdapter final : public IEngineOwner {
public:
    // The dialog hands this message, and its drain timer, to Drain().
    static constexpr UINT kWmEngineCalls = WM_APP + 1;
    static constexpr UINT_PTR kDrainTimer = 1;
    static constexpr UINT kDrainIntervalMs = 15;

    WinOwnerAdapter(IEngineOwner& target, HWND window, std::shared_ptr<StopFlag> stop);
    WinOwnerAdapter(const WinOwnerAdapter&) = delete;
    WinOwnerAdapter& operator=(const WinOwnerAdapter&) = delete;

    // Worker thread.
    void ShowControl(int controlId, int showCommand) override;
    void SetControlText(int controlId, const std::string& text) override;
    void SendMessageTo(int controlId, unsigned message, std::uint32_t wParam,
                       std::uint32_t lParam) override;
    void OnCancel() override;

    // Any thread.
    void Stop() { m_stop->RequestStop(); }
    // Interface thread: the dialog is going away; later calls do nothing.
    void Detach();
    // Interface thread: carries out what is queued.
    void Drain();

private:
    void Queue(ui::EngineCall call, bool wait);
    bool Stopped() const;

    IEngineOwner& m_target;
    const HWND m_window;
    std::shared_ptr<StopFlag> m_stop;
    mutable std::mutex m_mutex;
    ui::EngineCallQueue m_queue;
    bool m_detached = false;
};

}  // namespace launcher::win
