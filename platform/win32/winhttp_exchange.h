// The WinHTTP side of one request: a helper thread that sends the GET,
// follows redirects by hand (http_rules.h says which), and pulls the body into
// a shared buffer. The caller reads that buffer, and abandons the thread when
// its own clock or the stop flag says so; the thread then ends by itself after
// its current call, which the time-outs on its handles bound.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/http.h"
#include "platform/plain_get_answer.h"

namespace launcher::winhttp {

// Above this much unread data the helper stops reading until the caller catches up.
constexpr std::size_t kPauseAbove = 4 * 1024 * 1024;
// A waiting caller is woken once this much is unread, or at the end: waking it
// for every WinHTTP read (8 KiB under Wine) cost a third of the rate. Smaller
// amounts it finds itself at its next poll.
constexpr std::size_t kWakeAbove = 256 * 1024;

// What the helper thread and the caller share, guarded by `mutex`.
struct Exchange {
    std::mutex mutex;
    std::condition_variable changed;

    // Written by the helper.
    bool headReady = false;
    plain_get::Head head;
    std::vector<char> buffer;  // unread body bytes are [first, last)
    std::size_t first = 0;
    std::size_t last = 0;
    std::uint64_t received = 0;  // body bytes received in all
    std::uint64_t activity = 0;  // bumped by every step of the helper
    bool ended = false;          // the body is complete
    bool failed = false;         // no head, or the body broke off
    HttpFailure failure = HttpFailure::kUnnamed;  // what the helper could name of it
    bool waitingForRoom = false;

    // Written by the caller.
    bool abandoned = false;
    bool readerWaiting = false;

    std::size_t Buffered() const { return last - first; }
};

// Starts the helper for a GET of `url` (UTF-8), asking for the body from
// `offset` on when above 0, up to byte `last` when it is not kNoEnd. False
// when no thread could be started.
bool StartExchange(const std::shared_ptr<Exchange>& exchange, const HttpSettings& settings,
                   const std::string& url, std::uint32_t offset,
                   std::uint64_t last = plain_get::kNoEnd);

}  // namespace launcher::winhttp
