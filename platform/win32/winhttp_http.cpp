// HTTP on Windows through WinHTTP. WinINet was the first choice, but closing
// one of its requests drains the rest of the body first (a body behind a 4 GB
// length held the close for minutes under Wine), which no stop or time-out can
// bound; WinHTTP drops the connection at once.
//
// A blocked WinHTTP call cannot be interrupted either, so the calls run on a
// helper thread (winhttp_exchange.h); this side waits for its results with its
// own clock and the stop flag, and maps the answer to a plain GET.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <vector>
#include <thread>

#include "platform/http.h"
#include "platform/http_rules.h"
#include "platform/http_session_of.h"
#include "platform/stop_flag.h"
#include "platform/plain_get_answer.h"
#include "platform/win32/winhttp_exchange.h"

namespace launcher {
namespace {

using SteadyClock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Most body bytes a read copies from the helper's buffer at once, when it
// cannot take the whole buffer (a cap, or the end or the limit inside it).
constexpr std::uint64_t kTakeBlock = 64 * 1024;
// Longest wait before the stop flag and the clocks are looked at.
constexpr milliseconds kPollSlice{50};
// WinHTTP ends a silent connection by its own time-outs; ours only catch a
// call that overstays them, so they leave it this much room.
constexpr unsigned kHeadGraceMs = 1000;

class WinHttpRequest final : public HttpRequest {
public:
    WinHttpRequest(const HttpSettings& settings, std::shared_ptr<StopFlag> stop, std::string url)
        : settings_(settings), stop_(std::move(stop)), url_(std::move(url)) {}
    ~WinHttpRequest() override { Abandon(); }

    // Sends the GET (with a range from `offset` when above 0, or to `last`
    // when it is not kNoEnd) and waits for the head of the final response.
    // False when no response head arrived.
    bool Start(std::uint32_t offset, std::uint64_t last = plain_get::kNoEnd);
    // One request for the body from `offset`, asking the server for the range
    // [rangeFrom, last] (0 and kNoEnd: a plain GET).
    bool Send(std::uint32_t offset, std::uint32_t rangeFrom, std::uint64_t last);

    bool SetReadPosition(std::uint32_t offset) override;
    bool QueryStatusCode(int& status) override;
    std::uint64_t QueryContentLength() override;
    bool Read(char* buffer, std::size_t capacity, std::size_t& delivered) override;
    HttpFailure Failure() const override { return failure_; }
    plain_get::Head ReceivedHead() const override { return receivedHead_; }

private:
    bool Stopped() const { return stop_ && stop_->IsStopped(); }
    // Lets the helper go its own way; nothing of it is waited for.
    void Abandon();
    // Holds the caller back so the body arrives no faster than the cap.
    bool Fail(std::unique_lock<std::mutex>& lock, HttpFailure failure = HttpFailure::kUnnamed);

    const HttpSettings settings_;
    const std::shared_ptr<StopFlag> stop_;
    const std::string url_;

    std::shared_ptr<winhttp::Exchange> exchange_;
    std::uint32_t requestedOffset_ = 0;
    bool headComplete_ = false;
    bool consumed_ = false;
    bool failed_ = false;
    plain_get::Answer answer_;
    plain_get::Head receivedHead_;
    // Resource offsets: of the next byte handed out, and where reading starts
    // (bytes before it are skipped when a server ignored the range).
    std::uint64_t position_ = 0;
    std::uint64_t readFrom_ = 0;
    // Body bytes taken from the exchange in one go and handed out from here,
    // [takenAt_, takenEnd_): the fetcher reads 1 KiB at a time, and a lock
    // shared with the helper for each of those cost a third of the rate.
    std::vector<char> taken_;
    std::size_t takenAt_ = 0;
    std::size_t takenEnd_ = 0;
    http_rules::RateCap cap_{settings_.maxBytesPerSecond};

    // From Start on, across a retry without the range.
    std::optional<http_rules::SlowServerWatch> watch_;
    std::uint64_t earlierBytes_ = 0;  // body bytes of an exchange given up for a retry
    HttpFailure failure_ = HttpFailure::kUnnamed;
};

void WinHttpRequest::Abandon() {
    if (!exchange_) return;
    {
        std::lock_guard lock(exchange_->mutex);
        exchange_->abandoned = true;
    }
    exchange_->changed.notify_all();
    exchange_.reset();
}

bool WinHttpRequest::Fail(std::unique_lock<std::mutex>& lock, HttpFailure failure) {
    if (failure == HttpFailure::kUnnamed && exchange_) failure = exchange_->failure;
    lock.unlock();
    failed_ = true;
    failure_ = failure;
    Abandon();
    return false;
}

bool WinHttpRequest::Start(std::uint32_t offset, std::uint64_t last) {
    Abandon();
    watch_.emplace(settings_, SteadyClock::now());
    earlierBytes_ = 0;
    if (!Send(offset, offset, last)) return false;
    if (answer_.retryWithoutRange) return Send(offset, 0, plain_get::kNoEnd);
    return true;
}

bool WinHttpRequest::Send(std::uint32_t offset, std::uint32_t rangeFrom, std::uint64_t last) {
    if (exchange_) {
        std::lock_guard lock(exchange_->mutex);
        earlierBytes_ += exchange_->received;
    }
    Abandon();
    requestedOffset_ = offset;
    headComplete_ = consumed_ = failed_ = false;
    failure_ = HttpFailure::kUnnamed;
    answer_ = {};
    receivedHead_ = {};
    position_ = readFrom_ = 0;
    taken_.clear();
    takenAt_ = takenEnd_ = 0;

    exchange_ = std::make_shared<winhttp::Exchange>();
    if (!winhttp::StartExchange(exchange_, settings_, url_, rangeFrom, last)) {
        exchange_.reset();
        return false;
    }

    const auto headLimit =
        milliseconds(settings_.connectTimeoutMs + 1ull * settings_.receiveTimeoutMs + kHeadGraceMs);
    std::unique_lock lock(exchange_->mutex);
    winhttp::Exchange& x = *exchange_;
    std::uint64_t seen = x.activity;
    auto since = SteadyClock::now();
    while (!x.headReady && !x.failed) {
        x.changed.wait_for(lock, kPollSlice);
        const auto now = SteadyClock::now();
        if (x.activity != seen) {  // a redirect followed: a new hop, a new limit
            seen = x.activity;
            since = now;
        }
        if (Stopped()) return Fail(lock);
        if (now - since >= headLimit) return Fail(lock, HttpFailure::kStalled);
        if (auto slow = watch_->Check(earlierBytes_ + x.received, now); slow != HttpFailure::kUnnamed)
            return Fail(lock, slow);
    }
    if (!x.headReady) return Fail(lock);

    headComplete_ = true;
    receivedHead_ = x.head;
    answer_ = plain_get::Map(x.head, rangeFrom);
    readFrom_ = offset;
    position_ = answer_.position;
    const bool overLimit = settings_.maxBodyBytes > 0 && answer_.length > settings_.maxBodyBytes;
    if (overLimit || !answer_.rangeOk || answer_.noBody) {
        // No body byte will be read: the request is let go now.
        failed_ = overLimit;
        lock.unlock();
        Abandon();
    }
    return true;
}

bool WinHttpRequest::SetReadPosition(std::uint32_t offset) {
    if (headComplete_ && !consumed_ && offset == requestedOffset_) return answer_.rangeOk;
    return Start(offset) && answer_.rangeOk;
}

bool WinHttpRequest::QueryStatusCode(int& status) {
    if (!headComplete_) return false;
    status = answer_.status;
    return true;
}

std::uint64_t WinHttpRequest::QueryContentLength() {
    return answer_.length;
}

bool WinHttpRequest::Read(char* buffer, std::size_t capacity, std::size_t& delivered) {
    delivered = 0;
    if (!headComplete_ || !answer_.rangeOk) return false;
    consumed_ = true;
    if (answer_.noBody) return true;
    if (failed_ || !exchange_) return false;

    if (takenAt_ < takenEnd_) {
        delivered = std::min(capacity, takenEnd_ - takenAt_);
        std::memcpy(buffer, taken_.data() + takenAt_, delivered);
        takenAt_ += delivered;
        position_ += delivered;
        return true;
    }

    const std::uint64_t cap = settings_.maxBodyBytes;
    const auto idleLimit = milliseconds(settings_.receiveTimeoutMs);
    std::unique_lock lock(exchange_->mutex);
    winhttp::Exchange& x = *exchange_;
    std::uint64_t seen = x.activity;
    auto since = SteadyClock::now();
    for (;;) {
        if (x.Buffered() > 0 && position_ < readFrom_) {
            auto skip = static_cast<std::size_t>(
                std::min<std::uint64_t>(readFrom_ - position_, x.Buffered()));
            x.first += skip;
            position_ += skip;
            continue;
        }
        // Past the announced end nothing more is handed out, whatever follows.
        if (position_ >= answer_.end) return true;
        if (x.Buffered() > 0) {
            if (cap > 0 && position_ >= cap) return Fail(lock);
            std::uint64_t count =
                std::min<std::uint64_t>(x.Buffered(), answer_.end - position_);
            if (cap > 0) count = std::min(count, cap - position_);
            if (count == x.Buffered() && settings_.maxBytesPerSecond == 0) {
                // All of it: the buffers trade places, nothing is copied under
                // the lock the helper waits for. Under a cap the caller is
                // held per block instead, so that its progress stays even.
                taken_.swap(x.buffer);
                takenAt_ = x.first;
                takenEnd_ = x.last;
                x.first = x.last = 0;
            } else {
                count = std::min(count, kTakeBlock);
                taken_.assign(x.buffer.data() + x.first,
                              x.buffer.data() + x.first + static_cast<std::size_t>(count));
                takenAt_ = 0;
                takenEnd_ = taken_.size();
                x.first += static_cast<std::size_t>(count);
            }
            const bool wake = x.waitingForRoom && x.Buffered() < winhttp::kPauseAbove;
            lock.unlock();
            if (wake) x.changed.notify_all();
            delivered = std::min(capacity, takenEnd_ - takenAt_);
            std::memcpy(buffer, taken_.data() + takenAt_, delivered);
            takenAt_ += delivered;
            position_ += delivered;
            cap_.Hold(count, [this] { return Stopped(); });
            return true;
        }
        if (x.failed) return Fail(lock);
        if (x.ended) return true;

        x.readerWaiting = true;
        x.changed.wait_for(lock, kPollSlice);
        x.readerWaiting = false;
        const auto now = SteadyClock::now();
        if (x.activity != seen) {
            seen = x.activity;
            since = now;
        }
        if (Stopped()) return Fail(lock);
        if (now - since >= idleLimit) return Fail(lock, HttpFailure::kStalled);
        if (auto slow = watch_->Check(earlierBytes_ + x.received, now); slow != HttpFailure::kUnnamed)
            return Fail(lock, slow);
    }
}

}  // namespace

std::unique_ptr<HttpSession> OpenHttpSession(const HttpSettings& settings,
                                             std::shared_ptr<StopFlag> stop) {
    return std::make_unique<HttpSessionOf<WinHttpRequest>>(settings, std::move(stop));
}

}  // namespace launcher
