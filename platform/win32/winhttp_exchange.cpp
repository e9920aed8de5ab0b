#include "platform/win32/winhttp_exchange.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>

#include "platform/http_rules.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/winhttp_proxy.h"

namespace launcher::winhttp {
namespace {

// Most one WinHTTP read asks for; the caller's small reads are served from the
// buffer without a call. Wine hands out at most 8 KiB a read, whatever is
// asked; Windows hands out what has arrived, and fewer calls cost less.
constexpr DWORD kReadBlock = 256 * 1024;

// No cookies, no connection kept for later, no redirect followed behind our back.
constexpr DWORD kDisabledFeatures =
    WINHTTP_DISABLE_COOKIES | WINHTTP_DISABLE_REDIRECTS | WINHTTP_DISABLE_KEEP_ALIVE;

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

const char* SchemeName(INTERNET_SCHEME scheme) {
    return scheme == INTERNET_SCHEME_HTTPS ? "https" : "http";
}

// Socket errors some WinHTTP implementations pass on as they are (Wine's
// reports a receive time-out as WSAETIMEDOUT); named here to keep winsock out.
constexpr DWORD kWsaConnectionReset = 10054;
constexpr DWORD kWsaTimedOut = 10060;
constexpr DWORD kWsaConnectionRefused = 10061;
constexpr DWORD kWsaHostNotFound = 11001;

// What WinHTTP's last error says of a failed step; `receiving`: the head is
// in and the body was being read.
HttpFailure FailureOfLastError(bool receiving) {
    switch (::GetLastError()) {
        case kWsaHostNotFound:
            return HttpFailure::kHostNotFound;
        case kWsaConnectionRefused:
            return HttpFailure::kCannotConnect;
        case kWsaTimedOut:
            return receiving ? HttpFailure::kStalled : HttpFailure::kConnectTimeout;
        case kWsaConnectionReset:
            return HttpFailure::kConnectionBroken;
        case ERROR_WINHTTP_NAME_NOT_RESOLVED:
            return HttpFailure::kHostNotFound;
        case ERROR_WINHTTP_CANNOT_CONNECT:
            return HttpFailure::kCannotConnect;
        case ERROR_WINHTTP_TIMEOUT:
            return receiving ? HttpFailure::kStalled : HttpFailure::kConnectTimeout;
        case ERROR_WINHTTP_SECURE_FAILURE:
        case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
        case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
        case ERROR_WINHTTP_SECURE_INVALID_CA:
        case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
        case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
        case ERROR_WINHTTP_SECURE_INVALID_CERT:
        case ERROR_WINHTTP_SECURE_CERT_REVOKED:
            return HttpFailure::kTls;
        case ERROR_WINHTTP_CONNECTION_ERROR:
        case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
            return HttpFailure::kConnectionBroken;
        default:
            return HttpFailure::kUnnamed;
    }
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
struct Job {
    HttpSettings settings;
    std::wstring url;
    std::uint32_t offset = 0;
    std::uint64_t last = plain_get::kNoEnd;
};

class Helper {
public:
    Helper(std::shared_ptr<Exchange> exchange, Job job)
        : exchange_(std::move(exchange)), job_(std::move(job)) {}

    void Run() {
        HttpFailure failure = HttpFailure::kUnnamed;
        if (!SendUntilFinalHead(failure)) {
            Finish(/*failed=*/true, failure);
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

    void Finish(bool failed, HttpFailure failure = HttpFailure::kUnnamed) {
        {
            std::lock_guard lock(exchange_->mutex);
            (failed ? exchange_->failed : exchange_->ended) = true;
            exchange_->failure = failure;
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
        if (job_.offset > 0 || job_.last != plain_get::kNoEnd) {
            headers = L"Range: bytes=" + std::to_wstring(job_.offset) + L"-" +
                      (job_.last != plain_get::kNoEnd ? std::to_wstring(job_.last) : L"") +
                      L"\r\n";
        }
        return WinHttpSendRequest(request_.get(),
                                  headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
                                  static_cast<DWORD>(headers.size()), WINHTTP_NO_REQUEST_DATA, 0, 0,
                                  0) &&
               WinHttpReceiveResponse(request_.get(), nullptr);
    }

    // Follows the redirects the rules allow, by hand, and hands the final
    // head to the caller; `failure` names a refused redirect.
    bool SendUntilFinalHead(HttpFailure& failure) {
        session_.Reset(OpenSessionWithUserProxy(win32::Wide(job_.settings.userAgent)));
        if (!session_) return false;
        ApplyTimeouts(session_.get(), job_.settings);
        std::wstring url = job_.url;
        const auto origin = CrackUrl(url);
        if (!origin) return false;
        auto parts = origin;
        for (int hop = 0;; ++hop) {
            if (!Open(*parts)) {
                failure = FailureOfLastError(/*receiving=*/false);
                return false;
            }
            if (Abandoned()) return false;
            auto head = QueryHead(request_.get());
            if (IsRedirect(head.status)) {
                auto location = QueryText(request_.get(), WINHTTP_QUERY_LOCATION);
                if (location && !location->empty()) {
                    url = CombineUrl(url, *parts, *location);
                    auto next = CrackUrl(url);
                    failure = next ? http_rules::RedirectRefusal(
                                         SchemeName(parts->scheme), SchemeName(next->scheme),
                                         origin->SameOrigin(*next), hop, job_.settings)
                                   : HttpFailure::kRedirectNotHttp;
                    if (failure != HttpFailure::kUnnamed) return false;
                    parts = std::move(next);
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
                Finish(/*failed=*/true, FailureOfLastError(/*receiving=*/true));
                return;
            }
            const DWORD wanted = available == 0 ? kReadBlock : std::min(available, kReadBlock);
            DWORD delivered = 0;
            if (!WinHttpReadData(request_.get(), block.data(), wanted, &delivered)) {
                Finish(/*failed=*/true, FailureOfLastError(/*receiving=*/true));
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
        bool wake = false;
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
                // Moving the unread bytes down only once the read part is at
                // least as large keeps each byte's moves few; otherwise a slow
                // reader cost a move of up to kPauseAbove for every block.
                if (x.first > 0 && x.first >= x.Buffered()) {
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
            wake = !keepOn || (x.readerWaiting && x.Buffered() >= kWakeAbove);
        }
        if (wake) exchange_->changed.notify_all();
        return keepOn;
    }

    const std::shared_ptr<Exchange> exchange_;
    const Job job_;
    // Declared so that they close request first, session last.
    WinHttpHandle session_;
    WinHttpHandle connection_;
    WinHttpHandle request_;
};

}  // namespace

bool StartExchange(const std::shared_ptr<Exchange>& exchange, const HttpSettings& settings,
                   const std::string& url, std::uint32_t offset, std::uint64_t last) {
    try {
        std::thread([exchange, job = Job{settings, win32::Wide(url), offset, last}]() mutable {
            Helper(std::move(exchange), std::move(job)).Run();
        }).detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

}  // namespace launcher::winhttp
