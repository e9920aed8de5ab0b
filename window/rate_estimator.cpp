#include "window/rate_estimator.h"

#include <cmath>
#include <cstdio>

#include "engine/run_log.h"

namespace launcher::ui {

void RateEstimator::Restart(std::uint32_t tick, std::uint64_t present) {
    m_samples.clear();
    m_samples.push_back({tick, present});
}

void RateEstimator::Add(std::uint32_t tick, std::uint64_t present) {
    if (m_samples.empty() || present < m_samples.back().present) return Restart(tick, present);
    m_samples.push_back({tick, present});
    // One sample at or before the window's start stays as its base.
    while (m_samples.size() > 2 && tick - m_samples[1].tick >= kWindowMs) m_samples.pop_front();
}

double RateEstimator::BytesPerSecond(std::uint32_t tick) const {
    if (m_samples.empty()) return 0;
    const Sample& newest = m_samples.back();
    // The base: the latest sample the window still reaches back to.
    const Sample* base = &m_samples.front();
    for (const Sample& sample : m_samples) {
        if (tick - sample.tick < kWindowMs) break;
        base = &sample;
    }
    const std::uint32_t elapsed = tick - base->tick;
    if (elapsed < kWarmUpMs) return -1;
    return static_cast<double>(newest.present - base->present) * 1000.0 / elapsed;
}

long long RateEstimator::SecondsLeft(std::uint64_t remaining, std::uint32_t tick) const {
    const double rate = BytesPerSecond(tick);
    if (rate <= 0) return -1;
    return static_cast<long long>(std::ceil(static_cast<double>(remaining) / rate));
}

std::string DurationText(long long seconds) {
    char text[32];
    if (seconds >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60,
                      seconds % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", seconds / 60, seconds % 60);
    return text;
}

std::string ByteText(std::uint64_t bytes) { return ByteCount(bytes); }

std::string SpeedText(double bytesPerSecond, long long secondsLeft) {
    std::string text = ByteCount(static_cast<std::uint64_t>(bytesPerSecond)) + "/s";
    if (secondsLeft >= 0) text += "  剩余 " + DurationText(secondsLeft);
    return text;
}

}  // namespace launcher::ui
