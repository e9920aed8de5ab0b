// Download speed over a sliding window of a few seconds, and the time left at
// that speed. Fed with the bytes present of the current file and the tick.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

namespace launcher::ui {

class RateEstimator {
public:
    static constexpr std::uint32_t kWindowMs = 4000;
    // Below this much measured time the speed is not yet known.
    static constexpr std::uint32_t kWarmUpMs = 500;

    // A new file or a new attempt at one: `present` bytes are already there
    // and count for nothing.
    void Restart(std::uint32_t tick, std::uint64_t present);
    void Add(std::uint32_t tick, std::uint64_t present);
    // Bytes per second over the window ending at `tick`; -1 while not known.
    double BytesPerSecond(std::uint32_t tick) const;
    // Seconds until `remaining` more bytes are in; -1 while the speed is not
    // above 0.
    long long SecondsLeft(std::uint64_t remaining, std::uint32_t tick) const;

private:
    struct Sample {
        std::uint32_t tick;
        std::uint64_t present;
    };
    std::deque<Sample> m_samples;
};

// "2.4 MiB/s  剩余 0:42": the window's speed line and the console's figures
// share it. Time left is left out while it is not known.
std::string SpeedText(double bytesPerSecond, long long secondsLeft);
// "0:42", "1:02:03".
std::string DurationText(long long seconds);
// "12.3 MiB", "512 B": one unit family (B, KiB, MiB, GiB).
std::string ByteText(std::uint64_t bytes);

}  // namespace launcher::ui
