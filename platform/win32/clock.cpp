// The real clock: GetTickCount, as the engine's arithmetic expects, and
// stop-aware sleeping.
#include "platform/clock.h"

#include <windows.h>

#include "platform/stop_flag.h"

namespace launcher {

namespace {

class WindowsClock final : public IClock {
public:
    void Sleep(unsigned ms, StopFlag* stop) override {
        if (stop) {
            stop->SleepFor(ms);
        } else {
            ::Sleep(ms);
        }
    }
    std::uint32_t TickCount() override { return ::GetTickCount(); }
};

}  // namespace

IClock& SystemClock() {
    static WindowsClock clock;
    return clock;
}

}  // namespace launcher
