// One shared stop request for a worker: set by whoever closes the window, seen
// by the engine, the HTTP layer and the pauses. Owned jointly (shared_ptr) by the
// window and the worker so that it outlives both.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace launcher {

class StopFlag {
public:
    void RequestStop() {
        {
            std::lock_guard lock(mutex_);
            stopped_.store(true, std::memory_order_release);
        }
        wake_.notify_all();
    }
    bool IsStopped() const { return stopped_.load(std::memory_order_acquire); }

    // Sleeps up to `ms`; returns false when woken by a stop request.
    bool SleepFor(unsigned ms) {
        std::unique_lock lock(mutex_);
        return !wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return IsStopped(); });
    }

private:
    std::atomic<bool> stopped_{false};
    std::mutex mutex_;
    std::condition_variable wake_;
};

}  // namespace launcher
