#include "qt/dialogs/owner_adapter.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <chrono>

#include <deque>

namespace launcher::ui {

namespace {

const QEvent::Type kDrainEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

// How long a waiting worker sleeps before it looks at the stop flag again,
// for stops that come from elsewhere than Stop().
constexpr std::chrono::milliseconds kStopPoll{50};

}  // namespace

// The adapter's foothold on the interface thread: receives the drain events
// and owns the progress timer.
class OwnerPump final : public QObject {
public:
    explicit OwnerPump(QtOwnerAdapter* adapter) : m_adapter(adapter) {
        m_timer.setSingleShot(true);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] {
            if (m_adapter) m_adapter->DrainFrom(true);
        });
    }
    bool event(QEvent* event) override {
        if (event->type() != kDrainEvent) return QObject::event(event);
        if (m_adapter) m_adapter->DrainFrom(false);
        return true;
    }
    void ArmTimer() { m_timer.start(QtOwnerAdapter::kProgressIntervalMs); }

    QtOwnerAdapter* m_adapter;  // interface thread only; null once detached
    QTimer m_timer;
};

QtOwnerAdapter::QtOwnerAdapter(IEngineOwner& target, std::shared_ptr<StopFlag> stop)
    : m_target(target),
      m_stop(std::move(stop)),
      m_thread(QThread::currentThread()),
      m_pump(new OwnerPump(this)) {}

QtOwnerAdapter::~QtOwnerAdapter() {
    if (OnInterfaceThread()) Detach();
}

bool QtOwnerAdapter::Stopped() const {
    return m_stop && m_stop->IsStopped();
}

bool QtOwnerAdapter::OnInterfaceThread() const { return QThread::currentThread() == m_thread; }

void QtOwnerAdapter::ShowControl(int controlId, int showCommand) {
    Call_(EngineCall::Show(controlId, showCommand), true);
}

void QtOwnerAdapter::SetControlText(int controlId, const std::string& text) {
    Call_(EngineCall::Text(controlId, text), true);
}

void QtOwnerAdapter::SendMessageTo(int controlId, unsigned message, std::uint32_t wParam,
                                   std::uint32_t lParam) {
    Call_(EngineCall::Message(controlId, message, wParam, lParam), false);
}

void QtOwnerAdapter::OnCancel() {
    Call_(EngineCall::Cancel(), true);
}

void QtOwnerAdapter::Call_(EngineCall call, bool wait) {
    if (Stopped()) return;
    if (OnInterfaceThread()) {
        // Nobody to wait for: keep the order and carry it out here.
        Drain();
        bool detached;
        {
            std::lock_guard lock(m_mutex);
            detached = m_detached;
        }
        if (!detached && !Stopped()) call.PerformOn(m_target);
        return;
    }

    std::unique_lock lock(m_mutex);
    if (m_detached) return;
    if (wait) call.ticket = ++m_nextTicket;
    const std::uint64_t ticket = call.ticket;
    // Merged: a drain is already on its way for the queued call.
    if (!m_queue.Push(std::move(call))) return;
    if (!m_eventPosted && (wait || !m_timerArmed)) {
        m_eventPosted = true;
        QCoreApplication::postEvent(m_pump, new QEvent(kDrainEvent));
    }
    if (!wait) return;
    while (m_completed < ticket && !m_detached && !Stopped()) m_done.wait_for(lock, kStopPoll);
}

void QtOwnerAdapter::Drain() {
    std::deque<EngineCall> calls;
    {
        std::lock_guard lock(m_mutex);
        if (m_detached) return;
        calls = m_queue.TakeAll();
    }
    for (const EngineCall& call : calls) {
        if (!Stopped()) call.PerformOn(m_target);
        if (call.ticket) {
            std::lock_guard lock(m_mutex);
            m_completed = std::max(m_completed, call.ticket);
        }
    }
    m_done.notify_all();
}

void QtOwnerAdapter::DrainFrom(bool timer) {
    std::deque<EngineCall> calls;
    bool arm = false;
    {
        std::lock_guard lock(m_mutex);
        (timer ? m_timerArmed : m_eventPosted) = false;
        if (m_detached) return;
        calls = m_queue.TakeAll();
        const bool messages =
            std::any_of(calls.begin(), calls.end(),
                        [](const EngineCall& c) { return c.kind == EngineCall::Kind::kMessage; });
        // While messages flow, drain on the timer instead of on every message.
        if (messages && !m_timerArmed) arm = m_timerArmed = true;
    }
    if (arm) m_pump->ArmTimer();
    for (const EngineCall& call : calls) {
        bool detached;
        {
            std::lock_guard lock(m_mutex);
            detached = m_detached;
        }
        if (!detached && !Stopped()) call.PerformOn(m_target);
        if (call.ticket) {
            {
                std::lock_guard lock(m_mutex);
                m_completed = std::max(m_completed, call.ticket);
            }
            m_done.notify_all();
        }
    }
}

void QtOwnerAdapter::Stop() {
    if (m_stop) m_stop->RequestStop();
    { std::lock_guard lock(m_mutex); }
    m_done.notify_all();
}

void QtOwnerAdapter::Detach() {
    OwnerPump* pump;
    {
        std::lock_guard lock(m_mutex);
        m_detached = true;
        m_queue.Clear();
        pump = m_pump;
        m_pump = nullptr;
    }
    m_done.notify_all();
    if (pump) {
        pump->m_adapter = nullptr;
        // Later, not now: Detach may run inside one of the pump's own events.
        pump->deleteLater();
    }
}

}  // namespace launcher::ui
