// HTTP through WinINet. A blocked WinINet call cannot be interrupted, and
// closing a request may first drain the rest of its body, so every WinINet call
// of a request runs on a helper thread of its own. The caller waits for that
// thread's results with its own clock and the stop flag, and abandons the
// thread when either says so: the caller returns at once, the helper finishes
// its call and ends by itself.
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/http.h"
#include "platform/stop_flag.h"
#include "platform/win32/plain_get_answer.h"

namespace launcher {
namespace {

using SteadyClock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// What one WinINet read asks for; the caller's small reads are served from the
// buffer without a call.
constexpr DWORD kReadBlock = 64 * 1024;
// Above this much unread data the helper stops reading until the caller catches up.
constexpr std::size_t kPauseAbove = 4 * 1024 * 1024;
// Longest wait before the stop flag and the clocks are looked at.
constexpr milliseconds kPollSlice{50};
constexpr int kMaxRedirects = 10;
// WinINet ends a silent connection by its own time-outs; ours only catch a
// call that overstays them, so they leave it this much room.
constexpr unsigned kHeadGraceMs = 1000;

// No cache, no cookies, no dialogs, no redirect followed behind our back.
constexpr DWORD kRequestFlags = INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD |
                                INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_COOKIES |
                                INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_AUTO_REDIRECT;

std::wstring Widen(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int size = static_cast<int>(std::min<std::size_t>(utf8.size(), INT_MAX));
    const int count =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
    if (count <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(count), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, wide.data(), count);
    return wide;
}

// Header values are ASCII; anything else cannot be a number or a range.
std::string Narrow(std::wstring_view wide) {
    std::string narrow;
    narrow.reserve(wide.size());
    for (wchar_t c : wide) narrow.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return narrow;
}

class InternetHandle {
public:
    InternetHandle() = default;
    explicit InternetHandle(HINTERNET handle) : handle_(handle) {}
    ~InternetHandle() { Reset(); }
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;

    void Reset(HINTERNET handle = nullptr) {
        if (handle_) InternetCloseHandle(handle_);
        handle_ = handle;
    }
    HINTERNET get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    HINTERNET handle_ = nullptr;
};

void ApplyTimeouts(HINTERNET handle, const HttpSettings& settings) {
    auto set = [handle](DWORD option, DWORD value) {
        InternetSetOptionW(handle, option, &value, sizeof value);
    };
    set(INTERNET_OPTION_CONNECT_TIMEOUT, settings.connectTimeoutMs);
    set(INTERNET_OPTION_SEND_TIMEOUT, settings.receiveTimeoutMs);
    set(INTERNET_OPTION_RECEIVE_TIMEOUT, settings.receiveTimeoutMs);
    set(INTERNET_OPTION_DATA_SEND_TIMEOUT, settings.receiveTimeoutMs);
    set(INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, settings.receiveTimeoutMs);
    set(INTERNET_OPTION_CONNECT_RETRIES, 1);
}

// A header of the response as text; `name` for a header WinINet has no number for.
std::optional<std::wstring> QueryText(HINTERNET request, DWORD level,
                                      const wchar_t* name = nullptr) {
    std::wstring buffer(256, L'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (name) {
            const std::size_t length = std::wcslen(name);
            if (buffer.size() <= length) buffer.resize(length + 1);
            std::copy(name, name + length + 1, buffer.begin());
        }
        DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
        DWORD index = 0;
        if (HttpQueryInfoW(request, level, buffer.data(), &bytes, &index)) {
            buffer.resize(bytes / sizeof(wchar_t));
            return buffer;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return std::nullopt;
        buffer.assign(bytes / sizeof(wchar_t) + 1, L'\0');
    }
    return std::nullopt;
}

plain_get::Head QueryHead(HINTERNET request) {
    plain_get::Head head;
    DWORD status = 0;
    DWORD size = sizeof status;
    DWORD index = 0;
    if (HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                       &index))
        head.status = static_cast<int>(status);
    // As text: a length beyond 32 bits must not wrap into a small one.
    if (auto length = QueryText(request, HTTP_QUERY_CONTENT_LENGTH))
        head.contentLength = plain_get::ParseNumber(Narrow(*length));
    if (auto range = QueryText(request, HTTP_QUERY_CUSTOM, L"Content-Range"))
        head.contentRange = Narrow(*range);
    return head;
}

bool IsRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

struct UrlParts {
    INTERNET_SCHEME scheme = INTERNET_SCHEME_UNKNOWN;
    std::wstring host;
    INTERNET_PORT port = 0;
    std::wstring object;  // path and query

    bool SameOrigin(const UrlParts& other) const {
        return scheme == other.scheme && port == other.port &&
               CompareStringOrdinal(host.c_str(), -1, other.host.c_str(), -1, TRUE) == CSTR_EQUAL;
    }
};

std::optional<UrlParts> CrackUrl(const std::wstring& url) {
    URL_COMPONENTSW parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = 1;
    parts.dwUrlPathLength = 1;
    parts.dwExtraInfoLength = 1;
    if (!InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts))
        return std::nullopt;
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)
        return std::nullopt;
    if (!parts.lpszHostName || parts.dwHostNameLength == 0) return std::nullopt;
    UrlParts result;
    result.scheme = parts.nScheme;
    result.host.assign(parts.lpszHostName, parts.dwHostNameLength);
    result.port = parts.nPort;
    if (parts.lpszUrlPath) result.object.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
    if (parts.lpszExtraInfo) result.object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (result.object.empty()) result.object = L"/";
    return result;
}

// `location` taken relative to `base`; empty when they do not combine.
std::wstring CombineUrl(const std::wstring& base, const std::wstring& location) {
    std::wstring combined(2048, L'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        DWORD length = static_cast<DWORD>(combined.size());
        if (InternetCombineUrlW(base.c_str(), location.c_str(), combined.data(), &length,
                                ICU_NO_ENCODE)) {
            combined.resize(length);
            return combined;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return {};
        combined.assign(length + 1, L'\0');
    }
    return {};
}

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
    bool waitingForRoom = false;

    // Written by the caller.
    bool abandoned = false;

    std::size_t Buffered() const { return last - first; }
};

struct Job {
    HttpSettings settings;
    std::wstring url;
    std::uint32_t offset = 0;
};

class Helper {
public:
    Helper(std::shared_ptr<Exchange> exchange, Job job)
        : exchange_(std::move(exchange)), job_(std::move(job)) {}

    void Run() {
        if (!SendUntilFinalHead()) {
            Finish(/*failed=*/true);
            return;
        }
        ReadBody();
    }

private:
    bool Abandoned() {
        std::lock_guard lock(exchange_->mutex);
        return exchange_->abandoned;
    }

    void Bump() {
        {
            std::lock_guard lock(exchange_->mutex);
            ++exchange_->activity;
        }
        exchange_->changed.notify_all();
    }

    void Finish(bool failed) {
        {
            std::lock_guard lock(exchange_->mutex);
            (failed ? exchange_->failed : exchange_->ended) = true;
            ++exchange_->activity;
        }
        exchange_->changed.notify_all();
    }

    bool Open(const UrlParts& url) {
        request_.Reset();
        connection_.Reset(InternetConnectW(session_.get(), url.host.c_str(), url.port, nullptr,
                                           nullptr, INTERNET_SERVICE_HTTP, 0, 0));
        if (!connection_) return false;
        ApplyTimeouts(connection_.get(), job_.settings);
        const DWORD secure = url.scheme == INTERNET_SCHEME_HTTPS ? INTERNET_FLAG_SECURE : 0;
        request_.Reset(HttpOpenRequestW(connection_.get(), L"GET", url.object.c_str(), nullptr,
                                        nullptr, nullptr, kRequestFlags | secure, 0));
        if (!request_) return false;
        ApplyTimeouts(request_.get(), job_.settings);
        std::wstring headers;
        if (job_.offset > 0) headers = L"Range: bytes=" + std::to_wstring(job_.offset) + L"-\r\n";
        return HttpSendRequestW(request_.get(), headers.empty() ? nullptr : headers.c_str(),
                                static_cast<DWORD>(headers.size()), nullptr, 0) != FALSE;
    }

    // Follows redirects by hand, on the first URL's origin only, and hands the
    // final head to the caller.
    bool SendUntilFinalHead() {
        session_.Reset(InternetOpenW(Widen(job_.settings.userAgent).c_str(),
                                     INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
        if (!session_) return false;
        ApplyTimeouts(session_.get(), job_.settings);
        std::wstring url = job_.url;
        std::optional<UrlParts> origin;
        for (int hop = 0;; ++hop) {
            auto parts = CrackUrl(url);
            if (!parts || (origin && !origin->SameOrigin(*parts))) return false;
            if (!origin) origin = parts;
            if (!Open(*parts) || Abandoned()) return false;
            auto head = QueryHead(request_.get());
            if (IsRedirect(head.status)) {
                auto location = QueryText(request_.get(), HTTP_QUERY_LOCATION);
                if (location && !location->empty()) {
                    if (hop == kMaxRedirects) return false;
                    url = CombineUrl(url, *location);
                    Bump();
                    continue;
                }
            }
            {
                std::lock_guard lock(exchange_->mutex);
                exchange_->head = std::move(head);
                exchange_->headReady = true;
                ++exchange_->activity;
            }
            exchange_->changed.notify_all();
            return true;
        }
    }

    void ReadBody() {
        const std::uint64_t cap = job_.settings.maxBodyBytes;
        std::vector<char> block(kReadBlock);
        for (;;) {
            {
                std::unique_lock lock(exchange_->mutex);
                exchange_->waitingForRoom = true;
                exchange_->changed.wait(lock, [this] {
                    return exchange_->abandoned || exchange_->Buffered() < kPauseAbove;
                });
                exchange_->waitingForRoom = false;
                if (exchange_->abandoned) return;
            }
            // A read waits until its whole block has come: ask only for what is
            // there (at least one byte), so what arrived before a stall is kept.
            DWORD available = 0;
            if (!InternetQueryDataAvailable(request_.get(), &available, 0, 0)) {
                Finish(/*failed=*/true);
                return;
            }
            const DWORD wanted = available == 0 ? 1 : available < kReadBlock ? available : kReadBlock;
            DWORD delivered = 0;
            if (!InternetReadFile(request_.get(), block.data(), wanted, &delivered)) {
                Finish(/*failed=*/true);
                return;
            }
            if (delivered == 0) {
                Finish(/*failed=*/false);
                return;
            }
            if (!Append(block.data(), delivered, cap)) return;
        }
    }

    // False when the helper is to stop: abandoned, or the body went past `cap`.
    bool Append(const char* data, std::size_t size, std::uint64_t cap) {
        bool keepOn = true;
        {
            std::lock_guard lock(exchange_->mutex);
            Exchange& x = *exchange_;
            if (x.abandoned) return false;
            if (cap > 0 && x.received + size > cap) {
                size = static_cast<std::size_t>(cap - x.received);
                x.failed = true;
                keepOn = false;
            }
            if (x.first == x.last) x.first = x.last = 0;
            if (x.buffer.size() - x.last < size) {
                if (x.first > 0) {
                    std::memmove(x.buffer.data(), x.buffer.data() + x.first, x.Buffered());
                    x.last -= x.first;
                    x.first = 0;
                }
                if (x.buffer.size() - x.last < size) x.buffer.resize(x.last + size);
            }
            if (size > 0) std::memcpy(x.buffer.data() + x.last, data, size);
            x.last += size;
            x.received += size;
            ++x.activity;
        }
        exchange_->changed.notify_all();
        return keepOn;
    }

    const std::shared_ptr<Exchange> exchange_;
    const Job job_;
    // Declared so that they close request first, session last.
    InternetHandle session_;
    InternetHandle connection_;
    InternetHandle request_;
};

class WinInetRequest final : public HttpRequest {
public:
    WinInetRequest(const HttpSettings& settings, std::shared_ptr<StopFlag> stop, std::wstring url)
        : settings_(settings), stop_(std::move(stop)), url_(std::move(url)) {}
    ~WinInetRequest() override { Abandon(); }

    // Sends the GET (with a range from `offset` when above 0) and waits for the
    // head of the final response. False when no response head arrived.
    bool Start(std::uint32_t offset);

    bool SetReadPosition(std::uint32_t offset) override;
    bool QueryStatusCode(int& status) override;
    std::uint32_t QueryContentLength() override;
    bool Read(char* buffer, std::size_t capacity, std::size_t& delivered) override;

private:
    bool Stopped() const { return stop_ && stop_->IsStopped(); }
    bool SlowTransfer(std::uint64_t received, SteadyClock::time_point now);
    // Lets the helper go its own way; nothing of it is waited for.
    void Abandon();
    bool Fail(std::unique_lock<std::mutex>& lock);

    const HttpSettings settings_;
    const std::shared_ptr<StopFlag> stop_;
    const std::wstring url_;

    std::shared_ptr<Exchange> exchange_;
    std::uint32_t requestedOffset_ = 0;
    bool headComplete_ = false;
    bool consumed_ = false;
    bool failed_ = false;
    plain_get::Answer answer_;
    // Resource offsets: of the next byte handed out, and where reading starts
    // (bytes before it are skipped when a server ignored the range).
    std::uint64_t position_ = 0;
    std::uint64_t readFrom_ = 0;

    SteadyClock::time_point speedMark_;
    std::uint64_t speedMarkBytes_ = 0;
};

void WinInetRequest::Abandon() {
    if (!exchange_) return;
    {
        std::lock_guard lock(exchange_->mutex);
        exchange_->abandoned = true;
    }
    exchange_->changed.notify_all();
    exchange_.reset();
}

bool WinInetRequest::Fail(std::unique_lock<std::mutex>& lock) {
    lock.unlock();
    failed_ = true;
    Abandon();
    return false;
}

bool WinInetRequest::Start(std::uint32_t offset) {
    Abandon();
    requestedOffset_ = offset;
    headComplete_ = consumed_ = failed_ = false;
    answer_ = {};
    position_ = readFrom_ = 0;

    exchange_ = std::make_shared<Exchange>();
    try {
        std::thread([exchange = exchange_, job = Job{settings_, url_, offset}]() mutable {
            Helper(std::move(exchange), std::move(job)).Run();
        }).detach();
    } catch (const std::system_error&) {
        exchange_.reset();
        return false;
    }

    const auto headLimit =
        milliseconds(settings_.connectTimeoutMs + 2ull * settings_.receiveTimeoutMs + kHeadGraceMs);
    std::unique_lock lock(exchange_->mutex);
    Exchange& x = *exchange_;
    std::uint64_t seen = x.activity;
    auto since = SteadyClock::now();
    while (!x.headReady && !x.failed) {
        x.changed.wait_for(lock, kPollSlice);
        const auto now = SteadyClock::now();
        if (x.activity != seen) {  // a redirect followed: a new hop, a new limit
            seen = x.activity;
            since = now;
        }
        if (Stopped() || now - since >= headLimit) return Fail(lock);
    }
    if (!x.headReady) return Fail(lock);

    headComplete_ = true;
    answer_ = plain_get::Map(x.head, offset);
    readFrom_ = offset;
    position_ = answer_.position;
    speedMark_ = SteadyClock::now();
    speedMarkBytes_ = x.received;
    const bool overLimit = settings_.maxBodyBytes > 0 && answer_.length > settings_.maxBodyBytes;
    if (overLimit || !answer_.rangeOk || answer_.noBody) {
        // No body byte will be read: the request is let go now.
        failed_ = overLimit;
        lock.unlock();
        Abandon();
    }
    return true;
}

bool WinInetRequest::SetReadPosition(std::uint32_t offset) {
    if (headComplete_ && !consumed_ && offset == requestedOffset_) return answer_.rangeOk;
    return Start(offset) && answer_.rangeOk;
}

bool WinInetRequest::QueryStatusCode(int& status) {
    if (!headComplete_) return false;
    status = answer_.status;
    return true;
}

std::uint32_t WinInetRequest::QueryContentLength() {
    // A length beyond 32 bits cannot be handled by the caller; it reads as none.
    return answer_.length <= std::numeric_limits<std::uint32_t>::max()
               ? static_cast<std::uint32_t>(answer_.length)
               : 0;
}

// A transfer below the low-speed rate for the whole low-speed period.
bool WinInetRequest::SlowTransfer(std::uint64_t received, SteadyClock::time_point now) {
    if (settings_.lowSpeedBytes == 0 || settings_.lowSpeedSeconds == 0) return false;
    const auto period = std::chrono::seconds(settings_.lowSpeedSeconds);
    if (now - speedMark_ < period) return false;
    const std::uint64_t wanted =
        static_cast<std::uint64_t>(settings_.lowSpeedBytes) * settings_.lowSpeedSeconds;
    if (received - speedMarkBytes_ < wanted) return true;
    speedMark_ = now;
    speedMarkBytes_ = received;
    return false;
}

bool WinInetRequest::Read(char* buffer, std::size_t capacity, std::size_t& delivered) {
    delivered = 0;
    if (!headComplete_ || !answer_.rangeOk) return false;
    consumed_ = true;
    if (answer_.noBody) return true;
    if (failed_ || !exchange_) return false;

    const std::uint64_t cap = settings_.maxBodyBytes;
    const auto idleLimit = milliseconds(settings_.receiveTimeoutMs);
    std::unique_lock lock(exchange_->mutex);
    Exchange& x = *exchange_;
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
            std::uint64_t count = std::min<std::uint64_t>({capacity, x.Buffered(),
                                                           answer_.end - position_});
            if (cap > 0) count = std::min(count, cap - position_);
            std::memcpy(buffer, x.buffer.data() + x.first, static_cast<std::size_t>(count));
            x.first += static_cast<std::size_t>(count);
            position_ += count;
            delivered = static_cast<std::size_t>(count);
            const bool wake = x.waitingForRoom && x.Buffered() < kPauseAbove;
            lock.unlock();
            if (wake) x.changed.notify_all();
            return true;
        }
        if (x.failed) return Fail(lock);
        if (x.ended) return true;

        x.changed.wait_for(lock, kPollSlice);
        const auto now = SteadyClock::now();
        if (x.activity != seen) {
            seen = x.activity;
            since = now;
        }
        if (Stopped() || now - since >= idleLimit || SlowTransfer(x.received, now))
            return Fail(lock);
    }
}

class WinInetSession final : public HttpSession {
public:
    WinInetSession(const HttpSettings& settings, std::shared_ptr<StopFlag> stop)
        : settings_(settings), stop_(std::move(stop)) {}

    std::unique_ptr<HttpRequest> OpenUrl(const std::string& url,
                                         std::uint32_t expectedOffset) override {
        if (stop_ && stop_->IsStopped()) return nullptr;
        std::wstring wide = Widen(url);
        if (wide.empty()) return nullptr;
        auto request = std::make_unique<WinInetRequest>(settings_, stop_, std::move(wide));
        if (!request->Start(expectedOffset)) return nullptr;
        return request;
    }

private:
    const HttpSettings settings_;
    const std::shared_ptr<StopFlag> stop_;
};

}  // namespace

std::unique_ptr<HttpSession> OpenHttpSession(const HttpSettings& settings,
                                             std::shared_ptr<StopFlag> stop) {
    return std::make_unique<WinInetSession>(settings, std::move(stop));
}

}  // namespace launcher
