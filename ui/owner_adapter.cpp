#include "ui/owner_adapter.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <chrono>

#include "ui/common/progress_merging.h"

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

bool QtOwnerAdapter::Mergeable(const Call& call) {
    return call.kind == Kind::kMessage && IsMergeableMessage(call.control, call.message);
}

bool QtOwnerAdapter::SameKind(const Call& a, const Call& b) {
    return a.kind == b.kind && a.control == b.control && a.message == b.message;
}

void QtOwnerAdapter::ShowControl(int controlId, int showCommand) {
    Call call(Kind::kShow);
    call.control = controlId;
    call.show = showCommand;
    Call_(std::move(call), true);
}

void QtOwnerAdapter::SetControlText(int controlId, const std::string& text) {
    Call call(Kind::kText);
    call.control = controlId;
    call.text = text;
    Call_(std::move(call), true);
}

void QtOwnerAdapter::SendMessageTo(int controlId, unsigned message, std::uint32_t wParam,
                                   std::uint32_t lParam) {
    Call call(Kind::kMessage);
    call.control = controlId;
    call.message = message;
    call.wParam = wParam;
    call.lParam = lParam;
    Call_(std::move(call), false);
}

void QtOwnerAdapter::OnCancel() {
    Call_(Call(Kind::kCancel), true);
}

void QtOwnerAdapter::Call_(Call call, bool wait) {
    if (Stopped()) return;
    if (OnInterfaceThread()) {
        // Nobody to wait for: keep the order and carry it out here.
        Drain();
        bool detached;
        {
            std::lock_guard lock(m_mutex);
            detached = m_detached;
        }
        if (!detached && !Stopped()) Perform(call);
        return;
    }

    std::unique_lock lock(m_mutex);
    if (m_detached) return;
    if (!wait && Mergeable(call)) {
        for (auto it = m_queue.rbegin(); it != m_queue.rend() && Mergeable(*it); ++it) {
            if (!SameKind(*it, call)) continue;
            if (CompletesFile(it->message, it->wParam, it->lParam)) break;
            it->wParam = call.wParam;
            it->lParam = call.lParam;
            return;  // a drain is already on its way for the queued call
        }
    }
    if (wait) call.ticket = ++m_nextTicket;
    const std::uint64_t ticket = call.ticket;
    m_queue.push_back(std::move(call));
    if (!m_eventPosted && (wait || !m_timerArmed)) {
        m_eventPosted = true;
        QCoreApplication::postEvent(m_pump, new QEvent(kDrainEvent));
    }
    if (!wait) return;
    while (m_completed < ticket && !m_detached && !Stopped()) m_done.wait_for(lock, kStopPoll);
}

void QtOwnerAdapter::Drain() {
    std::deque<Call> calls;
    {
        std::lock_guard lock(m_mutex);
        if (m_detached) return;
        calls.swap(m_queue);
    }
    for (const Call& call : calls) {
        if (!Stopped()) Perform(call);
        if (call.ticket) {
            std::lock_guard lock(m_mutex);
            m_completed = std::max(m_completed, call.ticket);
        }
    }
    m_done.notify_all();
}

void QtOwnerAdapter::DrainFrom(bool timer) {
    std::deque<Call> calls;
    bool arm = false;
    {
        std::lock_guard lock(m_mutex);
        (timer ? m_timerArmed : m_eventPosted) = false;
        if (m_detached) return;
        calls.swap(m_queue);
        const bool messages = std::any_of(calls.begin(), calls.end(),
                                          [](const Call& c) { return c.kind == Kind::kMessage; });
        // While messages flow, drain on the timer instead of on every message.
        if (messages && !m_timerArmed) arm = m_timerArmed = true;
    }
    if (arm) m_pump->ArmTimer();
    for (const Call& call : calls) {
        bool detached;
        {
            std::lock_guard lock(m_mutex);
            detached = m_detached;
        }
        if (!detached && !Stopped()) Perform(call);
        if (call.ticket) {
            {
                std::lock_guard lock(m_mutex);
                m_completed = std::max(m_completed, call.ticket);
            }
            m_done.notify_all();
        }
    }
}

void QtOwnerAdapter::Perform(const Call& call) {
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
        m_queue.clear();
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
