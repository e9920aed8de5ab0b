// The real clock: a monotonic millisecond tick and stop-aware sleeping.
#include <chrono>
#include <thread>

#include "platform/clock.h"
#include "platform/stop_flag.h"

namespace launcher {

namespace {

class PosixClock final : public IClock {
public:
    void Sleep(unsigned ms, StopFlag* stop) override {
        if (stop) {
            stop->SleepFor(ms);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        }
    }
    std::uint32_t TickCount() override {
        auto now = std::chrono::steady_clock::now().time_since_epoch();
        return static_cast<std::uint32_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
    }
};

}  // namespace

IClock& SystemClock() {
    static PosixClock clock;
    return clock;
}

}  // namespace launcher
