#include "window/worker_thread.h"

#include <atomic>
#include <system_error>

namespace launcher::ui {

namespace {
std::atomic<int> g_detachedRunning{0};
}

WorkerThread::~WorkerThread() {
    if (m_thread.joinable()) JoinFor(kDefaultJoin);
}

bool WorkerThread::Start(std::function<void()> body) {
    if (m_started) return false;
    auto state = m_state;
    try {
        m_thread = std::thread([state, body = std::move(body)]() mutable {
            body();
            // What the body holds (the run's files, its lock, the owner) goes
            // before the end is told: a waiter may then remove the directory.
            body = nullptr;
            std::lock_guard lock(state->mutex);
            state->finished = true;
            if (state->detached) --g_detachedRunning;
            state->ended.notify_all();
        });
    } catch (const std::system_error&) {
        return false;
    }
    m_started = true;
    return true;
}

bool WorkerThread::Finished() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->finished;
}

bool WorkerThread::JoinFor(std::chrono::milliseconds limit) {
    if (!m_thread.joinable()) return true;
    std::unique_lock lock(m_state->mutex);
    if (m_state->ended.wait_for(lock, limit, [this] { return m_state->finished; })) {
        lock.unlock();
        m_thread.join();
        return true;
    }
    m_state->detached = true;
    ++g_detachedRunning;
    lock.unlock();
    m_thread.detach();
    return false;
}

void WorkerThread::Join() {
    if (m_thread.joinable()) m_thread.join();
}

int WorkerThread::DetachedRunning() {
    return g_detachedRunning.load();
}

}  // namespace launcher::ui
