// The rules both HTTP clients keep the same way: which redirects they follow,
// when a slow server has had its time, and how a bandwidth cap is kept. No OS
// here.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <deque>
#include <string_view>
#include <thread>

#include "platform/http.h"

namespace launcher::http_rules {

// A redirect from a URL with scheme `from` to one with scheme `to` (lower
// case), after `followed` redirects; `sameOrigin` compares the target with
// the first URL of the request. kUnnamed: follow it.
inline HttpFailure RedirectRefusal(std::string_view from, std::string_view to, bool sameOrigin,
                                   int followed, const HttpSettings& settings) {
    if (to != "http" && to != "https") return HttpFailure::kRedirectNotHttp;
    if (from == "https" && to == "http") return HttpFailure::kRedirectToHttp;
    // A pinned key vouches for its own origin only.
    if (!settings.pinnedPublicKey.empty() && !sameOrigin) return HttpFailure::kRedirectOffPinned;
    if (followed >= kMaxRedirects) return HttpFailure::kTooManyRedirects;
    return HttpFailure::kUnnamed;
}

// The deadline and the rate floor of HttpSettings for one request, on the
// steady clock. The floor looks at the body bytes of every window of
// lowSpeedSeconds (to within an eighth of it), not only at back-to-back
// periods, so bursts timed to the period do not pass it.
class SlowServerWatch {
public:
    using Clock = std::chrono::steady_clock;

    SlowServerWatch(const HttpSettings& settings, Clock::time_point start)
        : start_(start),
          deadline_(settings.deadlineMs),
          period_(std::chrono::seconds(settings.lowSpeedSeconds)),
          step_(std::chrono::duration_cast<Clock::duration>(period_) / 8),
          wanted_(static_cast<std::uint64_t>(settings.lowSpeedBytes) * settings.lowSpeedSeconds) {
        samples_.push_back({start, 0});
    }

    // `received`: body bytes so far. kUnnamed while within the limits.
    HttpFailure Check(std::uint64_t received, Clock::time_point now) {
        if (deadline_.count() > 0 && now - start_ >= deadline_) return HttpFailure::kDeadline;
        if (wanted_ == 0) return HttpFailure::kUnnamed;
        if (now - samples_.back().at >= step_) samples_.push_back({now, received});
        // The front becomes the newest sample at least a period old.
        while (samples_.size() > 1 && now - samples_[1].at >= period_) samples_.pop_front();
        const Sample& from = samples_.front();
        return now - from.at >= period_ && received - from.bytes < wanted_ ? HttpFailure::kTooSlow
                                                                            : HttpFailure::kUnnamed;
    }

private:
    struct Sample {
        Clock::time_point at;
        std::uint64_t bytes;
    };

    const Clock::time_point start_;
    const std::chrono::milliseconds deadline_;
    const std::chrono::seconds period_;
    const Clock::duration step_;
    const std::uint64_t wanted_;
    std::deque<Sample> samples_;
};

// A bandwidth cap kept by the reader: body bytes are handed out no faster than
// the cap allows since the first of them. While the reader is held back the
// socket is not read, and the sender waits on the connection's flow control.
// (A client library's own limiter reads in bursts and then falls silent for
// seconds, which the idle clock cannot tell from a dead server.)
class RateCap {
public:
    using Clock = std::chrono::steady_clock;

    explicit RateCap(std::uint64_t bytesPerSecond) : rate_(bytesPerSecond) {}

    // After `delivered` more bytes were handed out: waits, in slices that ask
    // `stopped`, until the cap allows them.
    template <class Stopped>
    void Hold(std::uint64_t delivered, Stopped stopped) {
        if (rate_ == 0 || delivered == 0) return;
        const Clock::time_point now = Clock::now();
        if (taken_ == 0) start_ = now;
        taken_ += delivered;
        const Clock::time_point due =
            start_ + std::chrono::microseconds(taken_ * 1'000'000 / rate_);
        // Short waits are left to add up: fewer, longer sleeps.
        if (due - now < kLeast) return;
        for (Clock::time_point at = now; at < due && !stopped(); at = Clock::now())
            std::this_thread::sleep_for(std::min<Clock::duration>(due - at, kSlice));
    }

private:
    static constexpr std::chrono::milliseconds kLeast{5};
    static constexpr std::chrono::milliseconds kSlice{50};
    const std::uint64_t rate_;
    std::uint64_t taken_ = 0;
    Clock::time_point start_{};
};

}  // namespace launcher::http_rules
