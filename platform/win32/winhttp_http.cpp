// HTTP through WinHTTP. WinINet was the first choice, but closing one of its
// requests drains the rest of the body first (a body behind a 4 GB length held
// the close for minutes under Wine), which no stop or time-out can bound;
// WinHTTP closes the connection at once.
//
// A blocked call cannot be interrupted, so every WinHTTP call of a request
// runs on a helper thread of its own. The caller waits for that thread's
// results with its own clock and the stop flag, and abandons the thread when
// either says so: the caller returns at once, the helper finishes its call
// (bounded by the time-outs set on its handles) and ends by itself.
#include <windows.h>
#include <winhttp.h>

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

// Most one WinHTTP read asks for; the caller's small reads are served from the
// buffer without a call.
constexpr DWORD kReadBlock = 64 * 1024;
// Above this much unread data the helper stops reading until the caller catches up.
constexpr std::size_t kPauseAbove = 4 * 1024 * 1024;
// Longest wait before the stop flag and the clocks are looked at.
constexpr milliseconds kPollSlice{50};
constexpr int kMaxRedirects = 10;
// WinHTTP ends a silent connection by its own time-outs; ours only catch a
// call that overstays them, so they leave it this much room.
constexpr unsigned kHeadGraceMs = 1000;

// No cookies, no connection kept for later, no redirect followed behind our back.
constexpr DWORD kDisabledFeatures =
    WINHTTP_DISABLE_COOKIES | WINHTTP_DISABLE_REDIRECTS | WINHTTP_DISABLE_KEEP_ALIVE;

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

class WinHttpHandle {
public:
    WinHttpHandle() = default;
    explicit WinHttpHandle(HINTERNET handle) : handle_(handle) {}
    ~WinHttpHandle() { Reset(); }
    WinHttpHandle(const WinHttpHandle&) = delete;
    WinHttpHandle& operator=(const WinHttpHandle&) = delete;

    void Reset(HINTERNET handle = nullptr) {
        if (handle_) WinHttpCloseHandle(handle_);
        handle_ = handle;
    }
    HINTERNET get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    HINTERNET handle_ = nullptr;
};

bool SetOption(HINTERNET handle, DWORD option, DWORD value) {
    return WinHttpSetOption(handle, option, &value, sizeof value) != FALSE;
}

// Name resolution and connecting share the connect time-out; sending, the
// wait for the head and each wait for data the receive time-out.
void ApplyTimeouts(HINTERNET handle, const HttpSettings& settings) {
    const int connect = static_cast<int>(std::min<unsigned>(settings.connectTimeoutMs, INT_MAX));
    const int receive = static_cast<int>(std::min<unsigned>(settings.receiveTimeoutMs, INT_MAX));
    WinHttpSetTimeouts(handle, connect, connect, receive, receive);
    SetOption(handle, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, settings.receiveTimeoutMs);
    SetOption(handle, WINHTTP_OPTION_CONNECT_RETRIES, 1);
}

// A header of the response as text; `name` for a header WinHTTP has no number for.
std::optional<std::wstring> QueryText(HINTERNET request, DWORD level,
                                      const wchar_t* name = WINHTTP_HEADER_NAME_BY_INDEX) {
    std::wstring buffer(256, L'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
        if (WinHttpQueryHeaders(request, level, name, buffer.data(), &bytes,
                                WINHTTP_NO_HEADER_INDEX)) {
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
    if (WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
        head.status = static_cast<int>(status);
    // As text: a length beyond 32 bits must not wrap into a small one.
    if (auto length = QueryText(request, WINHTTP_QUERY_CONTENT_LENGTH))
        head.contentLength = plain_get::ParseNumber(Narrow(*length));
    if (auto range = QueryText(request, WINHTTP_QUERY_CUSTOM, L"Content-Range"))
        head.contentRange = Narrow(*range);
    return head;
}

bool IsRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

struct UrlParts {
    INTERNET_SCHEME scheme = 0;
    std::wstring host;
    INTERNET_PORT port = 0;
    std::wstring object;  // path and query

    bool SameOrigin(const UrlParts& other) const {
        return scheme == other.scheme && port == other.port &&
               CompareStringOrdinal(host.c_str(), -1, other.host.c_str(), -1, TRUE) == CSTR_EQUAL;
    }
};

std::optional<UrlParts> CrackUrl(const std::wstring& url) {
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts))
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

// A redirect's Location taken relative to the URL that answered with it.
std::wstring CombineUrl(const std::wstring& base, const UrlParts& baseParts,
                        const std::wstring& location) {
    if (location.find(L"://") != std::wstring::npos) return location;
    const std::wstring scheme = baseParts.scheme == INTERNET_SCHEME_HTTPS ? L"https:" : L"http:";
    if (location.rfind(L"//", 0) == 0) return scheme + location;
    const std::size_t pathStart = base.find(L'/', base.find(L"://") + 3);
    const std::wstring origin = base.substr(0, pathStart);
    if (location.rfind(L"/", 0) == 0) return origin + location;
    std::wstring directory = baseParts.object.substr(0, baseParts.object.find(L'?'));
    directory.resize(directory.rfind(L'/') + 1);
    return origin + directory + location;
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
        connection_.Reset(WinHttpConnect(session_.get(), url.host.c_str(), url.port, 0));
        if (!connection_) return false;
        const DWORD secure = url.scheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
        request_.Reset(WinHttpOpenRequest(connection_.get(), L"GET", url.object.c_str(), nullptr,
                                          WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                          secure));
        if (!request_) return false;
        ApplyTimeouts(request_.get(), job_.settings);
        SetOption(request_.get(), WINHTTP_OPTION_DISABLE_FEATURE, kDisabledFeatures);
        std::wstring headers;
        if (job_.offset > 0) headers = L"Range: bytes=" + std::to_wstring(job_.offset) + L"-\r\n";
        return WinHttpSendRequest(request_.get(),
                                  headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
                                  static_cast<DWORD>(headers.size()), WINHTTP_NO_REQUEST_DATA, 0, 0,
                                  0) &&
               WinHttpReceiveResponse(request_.get(), nullptr);
    }

    // Follows redirects by hand, on the first URL's origin only, and hands the
    // final head to the caller.
    bool SendUntilFinalHead() {
        session_.Reset(WinHttpOpen(Widen(job_.settings.userAgent).c_str(),
                                   WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                   WINHTTP_NO_PROXY_BYPASS, 0));
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
                auto location = QueryText(request_.get(), WINHTTP_QUERY_LOCATION);
                if (location && !location->empty()) {
                    if (hop == kMaxRedirects) return false;
                    url = CombineUrl(url, *parts, *location);
                    Bump();
                    continue;
                }
            }
            if (CutShort(head)) return false;
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

    // WinHTTP takes a head that the connection cut short for a whole one, with
    // what it got so far. Such a head has no length; a body that can end only
    // with the connection and ends before its first byte is taken for it.
    bool CutShort(const plain_get::Head& head) {
        if (head.contentLength || head.status == 204 || head.status == 304) return false;
        if (QueryText(request_.get(), WINHTTP_QUERY_TRANSFER_ENCODING)) return false;
        DWORD available = 0;
        return !WinHttpQueryDataAvailable(request_.get(), &available) || available == 0;
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
            // A read waits until its whole size has arrived; asking for what
            // is there hands each piece on as soon as it comes.
            DWORD available = 0;
            if (!WinHttpQueryDataAvailable(request_.get(), &available)) {
                Finish(/*failed=*/true);
                return;
            }
            const DWORD wanted = available == 0 ? kReadBlock : std::min(available, kReadBlock);
            DWORD delivered = 0;
            if (!WinHttpReadData(request_.get(), block.data(), wanted, &delivered)) {
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
    WinHttpHandle session_;
    WinHttpHandle connection_;
    WinHttpHandle request_;
};

class WinHttpRequest final : public HttpRequest {
public:
    WinHttpRequest(const HttpSettings& settings, std::shared_ptr<StopFlag> stop, std::wstring url)
        : settings_(settings), stop_(std::move(stop)), url_(std::move(url)) {}
    ~WinHttpRequest() override { Abandon(); }

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

void WinHttpRequest::Abandon() {
    if (!exchange_) return;
    {
        std::lock_guard lock(exchange_->mutex);
        exchange_->abandoned = true;
    }
    exchange_->changed.notify_all();
    exchange_.reset();
}

bool WinHttpRequest::Fail(std::unique_lock<std::mutex>& lock) {
    lock.unlock();
    failed_ = true;
    Abandon();
    return false;
}

bool WinHttpRequest::Start(std::uint32_t offset) {
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
        milliseconds(settings_.connectTimeoutMs + 1ull * settings_.receiveTimeoutMs + kHeadGraceMs);
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

bool WinHttpRequest::SetReadPosition(std::uint32_t offset) {
    if (headComplete_ && !consumed_ && offset == requestedOffset_) return answer_.rangeOk;
    return Start(offset) && answer_.rangeOk;
}

bool WinHttpRequest::QueryStatusCode(int& status) {
    if (!headComplete_) return false;
    status = answer_.status;
    return true;
}

std::uint32_t WinHttpRequest::QueryContentLength() {
    // A length beyond 32 bits cannot be handled by the caller; it reads as none.
    return answer_.length <= std::numeric_limits<std::uint32_t>::max()
               ? static_cast<std::uint32_t>(answer_.length)
               : 0;
}

// A transfer below the low-speed rate for the whole low-speed period.
bool WinHttpRequest::SlowTransfer(std::uint64_t received, SteadyClock::time_point now) {
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

bool WinHttpRequest::Read(char* buffer, std::size_t capacity, std::size_t& delivered) {
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
            std::uint64_t count =
                std::min<std::uint64_t>({capacity, x.Buffered(), answer_.end - position_});
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

class WinHttpSession final : public HttpSession {
public:
    WinHttpSession(const HttpSettings& settings, std::shared_ptr<StopFlag> stop)
        : settings_(settings), stop_(std::move(stop)) {}

    std::unique_ptr<HttpRequest> OpenUrl(const std::string& url,
                                         std::uint32_t expectedOffset) override {
        if (stop_ && stop_->IsStopped()) return nullptr;
        std::wstring wide = Widen(url);
        if (wide.empty()) return nullptr;
        auto request = std::make_unique<WinHttpRequest>(settings_, stop_, std::move(wide));
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
    return std::make_unique<WinHttpSession>(settings, std::move(stop));
}

}  // namespace launcher
