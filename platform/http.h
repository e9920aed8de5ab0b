// HTTP as the fetcher needs it: one session per attempt, one request per URL,
// the response body pulled in small blocks, and a read position that can be
// moved so that an interrupted file continues where it stopped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/plain_get_answer.h"

namespace launcher {

class StopFlag;

struct HttpSettings {
    std::string userAgent = "lpload";
    unsigned connectTimeoutMs = 2000;
    // A response that delivers nothing for this long ends the request.
    unsigned receiveTimeoutMs = 2000;
    // So that a trickling server cannot hold an attempt for hours: the whole
    // request, redirects and body included, ends after deadlineMs (0: never),
    // and a body whose average rate over any lowSpeedSeconds stays below
    // lowSpeedBytes per second ends too (either 0: no floor).
    unsigned deadlineMs = 0;
    unsigned lowSpeedBytes = 1024;
    unsigned lowSpeedSeconds = 60;
    // Bandwidth cap of the body in bytes per second; 0: none.
    std::uint64_t maxBytesPerSecond = 0;
    // Largest body accepted; 0 means no limit.
    std::uint64_t maxBodyBytes = 0;
    // TLS public key pin in curl's form ("sha256//BASE64;..."); empty: none.
    std::string pinnedPublicKey = {};
    // PEM certificates trusted beside the system's store; empty: the store alone.
    std::string caCertificates = {};
};

// Redirects are followed to any http(s) host, at most this many in a row.
inline constexpr int kMaxRedirects = 10;

// Why a request ended without a usable answer, where the client can tell.
enum class HttpFailure {
    kUnnamed,
    kHostNotFound,         // the host name did not resolve
    kCannotConnect,        // connection refused, or the host unreachable
    kConnectTimeout,       // no connection within HttpSettings::connectTimeoutMs
    kTls,                  // TLS handshake failed, or the certificate or key was refused
    kStalled,              // nothing received for HttpSettings::receiveTimeoutMs
    kConnectionBroken,     // the connection broke off in the middle of the answer
    kRedirectToHttp,       // from https to plain http
    kRedirectNotHttp,      // to a scheme other than http(s), or no URL at all
    kRedirectOffPinned,    // elsewhere than the origin whose TLS key is pinned
    kTooManyRedirects,     // more than kMaxRedirects
    kDeadline,             // HttpSettings::deadlineMs passed
    kTooSlow,              // below HttpSettings' rate floor
};

// The failure in words, with the limits of `settings` where it has one.
std::string DescribeHttpFailure(HttpFailure failure, const HttpSettings& settings);

class HttpRequest {
public:
    virtual ~HttpRequest() = default;
    // Makes the next Read deliver the body from byte `offset` on. Status and
    // length stay those of a plain GET of the whole resource. An offset at the
    // very end of the body succeeds and leaves nothing to read.
    virtual bool SetReadPosition(std::uint32_t offset) = 0;
    // HTTP status of the response (a satisfied range request reads as 200).
    virtual bool QueryStatusCode(int& status) = 0;
    // Length of the whole resource, 0 when the server announced none. It may
    // lie beyond 32 bits, where the read position cannot follow.
    virtual std::uint64_t QueryContentLength() = 0;
    // Delivers up to `capacity` bytes; `delivered` 0 means the body has ended.
    // Returns false when the transfer failed (time-out, broken connection).
    virtual bool Read(char* buffer, std::size_t capacity, std::size_t& delivered) = 0;
    // What ended the request after SetReadPosition or Read returned false.
    virtual HttpFailure Failure() const = 0;
    // The final response's status, Content-Length and Content-Range as they
    // came, before they were mapped to a plain GET.
    virtual plain_get::Head ReceivedHead() const = 0;
};

class HttpSession {
public:
    virtual ~HttpSession() = default;
    // Sends a GET for `url` and waits for the response head. `expectedOffset`
    // tells the session where the caller will position the read (0: from the
    // start), so it can ask the server for that range at once. Returns nullptr
    // when the server cannot be reached or does not answer in time.
    virtual std::unique_ptr<HttpRequest> OpenUrl(const std::string& url,
                                                 std::uint32_t expectedOffset) = 0;
    // Sends a GET for bytes [first, last] of `url` and reads like OpenUrl with
    // `first` as the expected offset: a 206 starting there reads from it, a
    // 200 is skipped up to it. ReceivedHead tells which answer came.
    virtual std::unique_ptr<HttpRequest> OpenRange(const std::string& url, std::uint32_t first,
                                                   std::uint32_t last) = 0;
    // Why the last OpenUrl or OpenRange returned nullptr.
    virtual HttpFailure LastFailure() const = 0;
};

// Opens a session of this platform's HTTP client; `stop` (may be null) aborts
// every transfer of the session within a fraction of a second.
std::unique_ptr<HttpSession> OpenHttpSession(const HttpSettings& settings,
                                             std::shared_ptr<StopFlag> stop);

}  // namespace launcher
