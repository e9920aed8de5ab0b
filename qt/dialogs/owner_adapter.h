// Carries the engine's calls from the worker thread to the window on the
// interface thread.
//
// One FIFO queue holds every call in the order the worker made it. Show, text
// and cancel calls are synchronous: the worker waits until the interface
// thread has carried out everything queued up to and including its call.
// Messages (bar messages, WM_DOWNLOAD_PROGRESS) are queued without waiting, so
// a fast download is never held up by painting; while they wait, progress
// messages merge as EngineCallQueue says. The interface thread
// empties the queue at once when the worker waits and otherwise at most every
// kProgressIntervalMs, so a long download costs it a few short handlers per
// frame, not one per 1 KiB block.
//
// The adapter is shared (shared_ptr) by the window and the worker. Once the
// stop flag is set, every call is a no-op; after Detach (the window is being
// destroyed) nothing reaches the window any more and every waiting worker is
// released, so no call can deadlock against a closing window.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "owner/engine_owner.h"
#include "platform/stop_flag.h"
#include "window/engine_call_queue.h"

class QObject;
class QThread;

namespace launcher::ui {

class OwnerPump;

class QtOwnerAdapter final : public IEngineOwner {
public:
    static constexpr int kProgressIntervalMs = 15;

    // Construct on the interface thread. `target` performs the calls there
    // and must stay valid until Detach.
    QtOwnerAdapter(IEngineOwner& target, std::shared_ptr<StopFlag> stop);
    ~QtOwnerAdapter() override;
    QtOwnerAdapter(const QtOwnerAdapter&) = delete;
    QtOwnerAdapter& operator=(const QtOwnerAdapter&) = delete;

    // Any thread.
    void ShowControl(int controlId, int showCommand) override;
    void SetControlText(int controlId, const std::string& text) override;
    void SendMessageTo(int controlId, unsigned message, std::uint32_t wParam,
                       std::uint32_t lParam) override;
    void OnCancel() override;

    // Sets the stop flag and releases a waiting worker.
    void Stop();
    // Interface thread: the target is going away. Drops what is queued and
    // releases every waiting worker; later calls do nothing.
    void Detach();
    // Interface thread: carries out what is queued now.
    void Drain();

    const std::shared_ptr<StopFlag>& StopFlagPtr() const { return m_stop; }

private:
    friend class OwnerPump;
    bool Stopped() const;
    bool OnInterfaceThread() const;
    void Call_(EngineCall call, bool wait);
    void DrainFrom(bool timer);

    IEngineOwner& m_target;
    std::shared_ptr<StopFlag> m_stop;
    QThread* const m_thread;  // the interface thread
    OwnerPump* m_pump = nullptr;  // lives on the interface thread; guarded by m_mutex

    mutable std::mutex m_mutex;
    std::condition_variable m_done;
    EngineCallQueue m_queue;
    bool m_eventPosted = false;
    bool m_timerArmed = false;
    bool m_detached = false;
    std::uint64_t m_nextTicket = 0;
    std::uint64_t m_completed = 0;
};

}  // namespace launcher::ui
