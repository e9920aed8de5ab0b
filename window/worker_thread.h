// The update worker's thread: started once, never waited for by a closing
// window, joined for a bounded time at the end and left running (detached)
// if it does not end by then.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace launcher::ui {

class WorkerThread {
public:
    WorkerThread() = default;
    ~WorkerThread();  // JoinFor(kDefaultJoin) when still joinable
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    static constexpr std::chrono::milliseconds kDefaultJoin{800};

    // False when the thread could not be started.
    bool Start(std::function<void()> body);
    bool Started() const { return m_started; }
    bool Finished() const;
    // Joins when the body ends within `limit`, detaches it otherwise. True when
    // it was joined (or never started).
    bool JoinFor(std::chrono::milliseconds limit);
    // Joins however long the body takes.
    void Join();

    // Workers that were detached and are still running: the process must not
    // run its static destructors under them.
    static int DetachedRunning();

private:
    struct State {
        std::mutex mutex;
        std::condition_variable ended;
        bool finished = false;
        bool detached = false;
    };
    std::shared_ptr<State> m_state = std::make_shared<State>();
    std::thread m_thread;
    bool m_started = false;
};

}  // namespace launcher::ui
