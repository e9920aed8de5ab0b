// Time as the engine sees it: a pause and a millisecond tick count. Injected so
// that tests run the patch loop's pauses in zero time and drive the tick.
#pragma once

#include <cstdint>

namespace launcher {

class StopFlag;

class IClock {
public:
    virtual ~IClock() = default;
    // Pauses the calling thread; returns early when `stop` is requested.
    virtual void Sleep(unsigned ms, StopFlag* stop) = 0;
    // Milliseconds since some fixed point, wrapping at 2^32 like GetTickCount.
    virtual std::uint32_t TickCount() = 0;
};

// The real clock of this platform.
IClock& SystemClock();

}  // namespace launcher
