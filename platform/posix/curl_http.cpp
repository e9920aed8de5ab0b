// HTTP through libcurl's multi interface. The body is pulled: curl fills a
// buffer from its write callback only while the caller waits for data, and Read
// hands out the buffered bytes without going back to curl, so the fetcher's
// small reads cost a copy each and nothing more.
#include <curl/curl.h>
#include <fcntl.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstring>
#include <limits>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/files.h"
#include "platform/http.h"
#include "platform/http_rules.h"
#include "platform/http_session_of.h"
#include "platform/plain_get_answer.h"
#include "platform/stop_flag.h"

namespace launcher {
namespace {

using SteadyClock = std::chrono::steady_clock;

// Large reads from the socket keep the loopback rate close to curl's own tool.
constexpr long kCurlBufferSize = 512 * 1024;
// Above this much unread data the transfer pauses until the reader catches up.
constexpr std::size_t kPauseAbove = 4 * 1024 * 1024;
// Longest wait inside curl before the stop flag and the idle clock are looked at.
constexpr int kPollSliceMs = 50;
using plain_get::kNoEnd;

// What a transfer's end code says of the failure; kUnnamed where it says
// nothing more than "failed".
HttpFailure FailureOf(CURLcode code, bool connected) {
    switch (code) {
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return HttpFailure::kHostNotFound;
        case CURLE_COULDNT_CONNECT:
            return HttpFailure::kCannotConnect;
        case CURLE_OPERATION_TIMEDOUT:
            return connected ? HttpFailure::kStalled : HttpFailure::kConnectTimeout;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_INVALIDCERTSTATUS:
            return HttpFailure::kTls;
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_PARTIAL_FILE:
        case CURLE_GOT_NOTHING:
            return HttpFailure::kConnectionBroken;
        default:
            return HttpFailure::kUnnamed;
    }
}

bool GlobalInit() {
    static const bool ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ok;
}

// Our connections must not live on in the game or the updater we start.
int MarkCloseOnExec(void*, curl_socket_t socket, curlsocktype) {
    const int flags = ::fcntl(socket, F_GETFD);
    if (flags >= 0) ::fcntl(socket, F_SETFD, flags | FD_CLOEXEC);
    return CURL_SOCKOPT_OK;
}

// curl takes one bundle: the system's file (curl's default) and the extra
// certificates go in together, read once per set of extras.
std::string TrustedBundle(CURL* easy, const std::string& extra) {
    static std::mutex mutex;
    static std::string madeFor;
    static std::string bundle;
    std::lock_guard lock(mutex);
    if (madeFor != extra || bundle.empty()) {
        char* systemFile = nullptr;
        std::string system;
        if (curl_easy_getinfo(easy, CURLINFO_CAINFO, &systemFile) != CURLE_OK || !systemFile ||
            !ReadWholeFile(systemFile, system)) {
            system.clear();
        }
        bundle = system + "\n" + extra;
        madeFor = extra;
    }
    return bundle;
}

using plain_get::IEquals;
using plain_get::ParseNumber;
using plain_get::Trim;

struct ResolvedUrl {
    std::string url;
    std::string scheme;  // lower case
    std::string origin;  // "scheme://host:port", lower case
};

// `location` read against `base` (a relative location keeps the base's
// origin); nullopt when it does not parse.
std::optional<ResolvedUrl> Resolve(const std::string& base, const std::string& location) {
    CURLU* url = curl_url();
    if (!url) return std::nullopt;
    std::optional<ResolvedUrl> resolved;
    if (curl_url_set(url, CURLUPART_URL, base.c_str(), 0) == CURLUE_OK &&
        curl_url_set(url, CURLUPART_URL, location.c_str(), CURLU_NON_SUPPORT_SCHEME) ==
            CURLUE_OK) {
        char* full = nullptr;
        char* scheme = nullptr;
        char* host = nullptr;
        char* port = nullptr;
        if (curl_url_get(url, CURLUPART_URL, &full, 0) == CURLUE_OK &&
            curl_url_get(url, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
            curl_url_get(url, CURLUPART_HOST, &host, 0) == CURLUE_OK) {
            // Schemes without a default port have none to compare.
            if (curl_url_get(url, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) != CURLUE_OK)
                port = nullptr;
            resolved = ResolvedUrl{full, scheme, std::string(scheme) + "://" + host + ":" +
                                                     (port ? port : "")};
            for (std::string* text : {&resolved->scheme, &resolved->origin})
                for (char& c : *text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
        }
        curl_free(full);
        curl_free(scheme);
        curl_free(host);
        curl_free(port);
    }
    curl_url_cleanup(url);
    return resolved;
}

// The multi and easy handle of one transfer, released in the order curl wants.
class Transfer {
public:
    Transfer() : multi_(curl_multi_init()), easy_(curl_easy_init()) {}
    ~Transfer() {
        if (added_) curl_multi_remove_handle(multi_, easy_);
        if (easy_) curl_easy_cleanup(easy_);
        if (multi_) curl_multi_cleanup(multi_);
    }
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    bool Valid() const { return multi_ && easy_; }
    bool Add() { return added_ = curl_multi_add_handle(multi_, easy_) == CURLM_OK; }
    CURLM* multi() const { return multi_; }
    CURL* easy() const { return easy_; }

private:
    CURLM* multi_;
    CURL* easy_;
    bool added_ = false;
};

class CurlRequest final : public HttpRequest {
public:
    CurlRequest(const HttpSettings& settings, std::shared_ptr<StopFlag> stop, std::string url)
        : settings_(settings), stop_(std::move(stop)), url_(std::move(url)) {}

    // Sends the GET (with a range from `offset` when above 0, or to `last`
    // when it is not kNoEnd) and waits for the head of the final response.
    // False when no response head arrived.
    bool Start(std::uint32_t offset, std::uint64_t last = kNoEnd);

    bool SetReadPosition(std::uint32_t offset) override;
    bool QueryStatusCode(int& status) override;
    std::uint64_t QueryContentLength() override;
    bool Read(char* buffer, std::size_t capacity, std::size_t& delivered) override;
    HttpFailure Failure() const override {
        if (failure_ == HttpFailure::kUnnamed && done_) return FailureOf(result_, connected_);
        return failure_;
    }
    plain_get::Head ReceivedHead() const override {
        return {status_, contentLength_, contentRange_};
    }

private:
    static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user);
    static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user);
    static int OnPrereq(void* user, char*, char*, int, int);

    // One GET, ranged or plain, up to the head of its final response.
    bool Send(std::uint32_t offset, bool askRange);
    void HeaderLine(std::string_view line);
    // A redirect to `location`: refused (failure_ set) or taken as the next hop.
    void Redirect(const std::string& location);
    void FinishHead();
    bool Append(const char* data, std::size_t size);
    // Lets curl work until something arrives or the transfer ends; false when
    // the wait itself failed (stop request, nothing received in time).
    bool Pump();
    void CollectDone();
    std::size_t Buffered() const { return tail_ - head_; }

    const HttpSettings settings_;
    const std::shared_ptr<StopFlag> stop_;
    const std::string url_;

    std::unique_ptr<Transfer> transfer_;
    std::string range_;
    std::uint32_t requestedOffset_ = 0;
    std::uint64_t rangeLast_ = kNoEnd;
    bool rangeAsked_ = false;
    bool retryWithoutRange_ = false;

    // The response head as it arrives; a new status line starts it over, so
    // what is left at the end belongs to the final response.
    int status_ = 0;
    std::optional<std::uint64_t> contentLength_;
    std::optional<std::string> contentRange_;
    bool hasLocation_ = false;
    bool headComplete_ = false;
    // The URL that answered the head being read, and the redirects so far.
    std::string hopUrl_;
    std::string nextHop_;
    int redirects_ = 0;

    // What the caller sees: a plain GET of the whole resource.
    int mappedStatus_ = 0;
    std::uint64_t length_ = 0;
    bool rangeOk_ = false;
    bool noBody_ = false;
    bool consumed_ = false;

    // Body bytes in the buffer, in resource offsets: `position_` is the offset
    // of the buffer's first byte; bytes before `readFrom_` are skipped (a
    // server that ignored the range), bytes from `end_` on are not handed out.
    std::vector<char> buffer_;
    std::size_t head_ = 0;
    std::size_t tail_ = 0;
    std::uint64_t position_ = 0;
    std::uint64_t readFrom_ = 0;
    std::uint64_t end_ = kNoEnd;
    std::uint64_t received_ = 0;  // resource offset just past the last byte received

    std::uint64_t activity_ = 0;  // bumped by every callback
    std::uint64_t bodyBytes_ = 0;  // received in all, for the rate floor
    std::optional<http_rules::SlowServerWatch> watch_;
    http_rules::RateCap cap_{settings_.maxBytesPerSecond};
    HttpFailure failure_ = HttpFailure::kUnnamed;
    bool connected_ = false;
    bool paused_ = false;
    bool done_ = false;
    bool failed_ = false;
    CURLcode result_ = CURLE_OK;
};

bool CurlRequest::Start(std::uint32_t offset, std::uint64_t last) {
    watch_.emplace(settings_, SteadyClock::now());
    bodyBytes_ = 0;
    failure_ = HttpFailure::kUnnamed;
    rangeLast_ = last;
    if (!Send(offset, offset > 0 || last != kNoEnd)) return false;
    // The range was refused without saying where the resource ends (a 416
    // without a usable Content-Range): a plain GET tells, and its bytes before
    // the offset are skipped, as for a server that ignores ranges.
    if (retryWithoutRange_) return Send(offset, false);
    return true;
}

bool CurlRequest::Send(std::uint32_t offset, bool askRange) {
    transfer_.reset();
    transfer_ = std::make_unique<Transfer>();
    if (!transfer_->Valid()) return false;

    requestedOffset_ = offset;
    rangeAsked_ = askRange;
    retryWithoutRange_ = false;
    status_ = 0;
    contentLength_.reset();
    contentRange_.reset();
    hasLocation_ = headComplete_ = false;
    hopUrl_ = url_;
    nextHop_.clear();
    redirects_ = 0;
    mappedStatus_ = 0;
    length_ = 0;
    rangeOk_ = noBody_ = consumed_ = false;
    head_ = tail_ = 0;
    position_ = readFrom_ = received_ = 0;
    end_ = kNoEnd;
    connected_ = paused_ = done_ = failed_ = false;
    result_ = CURLE_OK;

    CURL* easy = transfer_->easy();
    curl_easy_setopt(easy, CURLOPT_URL, url_.c_str());
    curl_easy_setopt(easy, CURLOPT_USERAGENT, settings_.userAgent.c_str());
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(settings_.connectTimeoutMs));
    // The deadline and the rate floor are kept in Pump, as the WinHTTP client
    // keeps them, so that a failure says which of them ended the request.
    // Every redirect is looked at in HeaderLine before curl follows it.
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, static_cast<long>(kMaxRedirects));
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    if (!settings_.pinnedPublicKey.empty())
        curl_easy_setopt(easy, CURLOPT_PINNEDPUBLICKEY, settings_.pinnedPublicKey.c_str());
    if (!settings_.caCertificates.empty()) {
        const std::string bundle = TrustedBundle(easy, settings_.caCertificates);
        curl_blob blob{const_cast<char*>(bundle.data()), bundle.size(), CURL_BLOB_COPY};
        curl_easy_setopt(easy, CURLOPT_CAINFO_BLOB, &blob);
    }
    // The worker thread must not be hit by SIGALRM from the resolver.
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    // A proxy tunnel's own "200 Connection established" is not our response.
    curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kCurlBufferSize);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &CurlRequest::OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &CurlRequest::OnBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &CurlRequest::OnPrereq);
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, this);
    curl_easy_setopt(easy, CURLOPT_SOCKOPTFUNCTION, &MarkCloseOnExec);
    if (askRange) {
        range_ = std::to_string(offset) + "-" +
                 (rangeLast_ != kNoEnd ? std::to_string(rangeLast_) : std::string());
        curl_easy_setopt(easy, CURLOPT_RANGE, range_.c_str());
    }
    if (!transfer_->Add()) return false;

    while (!headComplete_ && !done_) {
        if (!Pump()) return false;
    }
    return headComplete_;
}

bool CurlRequest::SetReadPosition(std::uint32_t offset) {
    if (headComplete_ && !consumed_ && offset == requestedOffset_) return rangeOk_;
    return Start(offset) && rangeOk_;
}

bool CurlRequest::QueryStatusCode(int& status) {
    if (!headComplete_) return false;
    status = mappedStatus_;
    return true;
}

std::uint64_t CurlRequest::QueryContentLength() {
    return length_;
}

bool CurlRequest::Read(char* buffer, std::size_t capacity, std::size_t& delivered) {
    delivered = 0;
    if (!headComplete_ || !rangeOk_) return false;
    consumed_ = true;
    if (noBody_) return true;
    for (;;) {
        if (Buffered() > 0 && position_ < readFrom_) {
            auto skip = static_cast<std::size_t>(
                std::min<std::uint64_t>(readFrom_ - position_, Buffered()));
            head_ += skip;
            position_ += skip;
            continue;
        }
        // Past the announced end nothing more is handed out, whatever follows.
        if (position_ >= end_) return true;
        if (Buffered() > 0) {
            auto count = static_cast<std::size_t>(
                std::min<std::uint64_t>({capacity, Buffered(), end_ - position_}));
            std::memcpy(buffer, buffer_.data() + head_, count);
            head_ += count;
            position_ += count;
            delivered = count;
            cap_.Hold(count, [this] { return stop_ && stop_->IsStopped(); });
            return true;
        }
        if (failed_) return false;
        if (done_) return result_ == CURLE_OK;
        if (!Pump()) return false;
    }
}

std::size_t CurlRequest::OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto* self = static_cast<CurlRequest*>(user);
    std::size_t bytes = size * count;
    ++self->activity_;
    if (!self->headComplete_) self->HeaderLine(std::string_view(data, bytes));
    // A refused redirect ends the transfer before curl follows it.
    return self->failure_ == HttpFailure::kUnnamed ? bytes : 0;
}

void CurlRequest::HeaderLine(std::string_view line) {
    line = Trim(line);
    if (line.size() >= 5 && line.substr(0, 5) == "HTTP/") {
        status_ = 0;
        auto space = line.find(' ');
        if (space != std::string_view::npos) {
            auto code = line.substr(space + 1, 3);
            std::from_chars(code.data(), code.data() + code.size(), status_);
        }
        contentLength_.reset();
        contentRange_.reset();
        hasLocation_ = false;
        return;
    }
    if (line.empty()) {
        // Interim (1xx) answers and redirects that curl follows are not final.
        if (status_ / 100 == 3 && hasLocation_) {
            connected_ = false;  // the next hop may have to connect first
            hopUrl_ = nextHop_;
            ++redirects_;
        } else if (status_ >= 200) {
            FinishHead();
        }
        return;
    }
    auto colon = line.find(':');
    if (colon == std::string_view::npos) return;
    auto name = Trim(line.substr(0, colon));
    auto value = Trim(line.substr(colon + 1));
    if (IEquals(name, "content-length")) {
        contentLength_ = ParseNumber(value);
    } else if (IEquals(name, "content-range")) {
        contentRange_ = std::string(value);
    } else if (IEquals(name, "location")) {
        hasLocation_ = !value.empty();
        if (hasLocation_ && status_ / 100 == 3) Redirect(std::string(value));
    }
}

void CurlRequest::Redirect(const std::string& location) {
    const auto from = Resolve(hopUrl_, hopUrl_);
    const auto to = Resolve(hopUrl_, location);
    const auto first = Resolve(url_, url_);
    if (!from || !to || !first) {
        failure_ = HttpFailure::kRedirectNotHttp;
        return;
    }
    failure_ = http_rules::RedirectRefusal(from->scheme, to->scheme,
                                           to->origin == first->origin, redirects_, settings_);
    nextHop_ = to->url;
}

// Maps the final response to what a plain GET of the whole resource would say.
void CurlRequest::FinishHead() {
    headComplete_ = true;
    // The rules both clients keep: what a plain GET would have said, and where
    // the body that follows sits in the resource.
    const plain_get::Answer answer =
        plain_get::Map(ReceivedHead(), rangeAsked_ ? requestedOffset_ : 0);
    mappedStatus_ = answer.status;
    length_ = answer.length;
    rangeOk_ = answer.rangeOk;
    noBody_ = answer.noBody;
    position_ = answer.position;
    end_ = answer.end;
    retryWithoutRange_ = answer.retryWithoutRange;
    readFrom_ = requestedOffset_;
    received_ = position_;
    if (settings_.maxBodyBytes > 0 && length_ > settings_.maxBodyBytes) failed_ = true;
}

std::size_t CurlRequest::OnBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto* self = static_cast<CurlRequest*>(user);
    std::size_t bytes = size * count;
    ++self->activity_;
    if (!self->headComplete_) self->FinishHead();
    if (self->failed_ || self->noBody_) return 0;  // ends the transfer
    if (self->Buffered() >= kPauseAbove) {
        self->paused_ = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    return self->Append(data, bytes) ? bytes : 0;
}

bool CurlRequest::Append(const char* data, std::size_t size) {
    const std::uint64_t max = settings_.maxBodyBytes;
    bool overLimit = max > 0 && received_ + size > max;
    if (overLimit) size = static_cast<std::size_t>(max > received_ ? max - received_ : 0);
    if (head_ == tail_) head_ = tail_ = 0;
    if (buffer_.size() - tail_ < size) {
        if (head_ > 0) {
            std::memmove(buffer_.data(), buffer_.data() + head_, Buffered());
            tail_ -= head_;
            head_ = 0;
        }
        if (buffer_.size() - tail_ < size) buffer_.resize(tail_ + size);
    }
    if (size > 0) std::memcpy(buffer_.data() + tail_, data, size);
    tail_ += size;
    received_ += size;
    bodyBytes_ += size;
    if (overLimit) failed_ = true;
    return !overLimit;
}

int CurlRequest::OnPrereq(void* user, char*, char*, int, int) {
    auto* self = static_cast<CurlRequest*>(user);
    // From here on the receive time-out applies; before, the connect time-out.
    self->connected_ = true;
    ++self->activity_;
    return CURL_PREREQFUNC_OK;
}

void CurlRequest::CollectDone() {
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(transfer_->multi(), &left)) {
        if (message->msg == CURLMSG_DONE) {
            done_ = true;
            result_ = message->data.result;
        }
    }
}

bool CurlRequest::Pump() {
    if (done_) return true;
    const std::uint64_t seen = activity_;
    if (paused_) {
        paused_ = false;
        // Delivers what curl held back, through OnBody, before it returns.
        if (curl_easy_pause(transfer_->easy(), CURLPAUSE_CONT) != CURLE_OK) {
            failed_ = true;
            return false;
        }
        if (activity_ != seen) return true;
    }
    const auto idleLimit = std::chrono::milliseconds(settings_.receiveTimeoutMs);
    const auto waitStart = SteadyClock::now();
    for (;;) {
        int running = 0;
        if (curl_multi_perform(transfer_->multi(), &running) != CURLM_OK) {
            failed_ = true;
            return false;
        }
        CollectDone();
        if (done_ && result_ == CURLE_TOO_MANY_REDIRECTS) failure_ = HttpFailure::kTooManyRedirects;
        const auto now = SteadyClock::now();
        if (failure_ == HttpFailure::kUnnamed && !done_) failure_ = watch_->Check(bodyBytes_, now);
        if (failure_ != HttpFailure::kUnnamed) {
            failed_ = true;
            return false;
        }
        if (activity_ != seen || done_) return true;
        if (stop_ && stop_->IsStopped()) {
            failed_ = true;
            return false;
        }
        if (connected_ && now - waitStart >= idleLimit) {
            failure_ = HttpFailure::kStalled;
            failed_ = true;
            return false;
        }
        if (curl_multi_poll(transfer_->multi(), nullptr, 0, kPollSliceMs, nullptr) != CURLM_OK) {
            failed_ = true;
            return false;
        }
    }
}

}  // namespace

std::unique_ptr<HttpSession> OpenHttpSession(const HttpSettings& settings,
                                             std::shared_ptr<StopFlag> stop) {
    if (!GlobalInit()) return nullptr;
    return std::make_unique<HttpSessionOf<CurlRequest>>(settings, std::move(stop));
}

}  // namespace launcher
