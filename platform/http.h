// HTTP as the fetcher needs it: one session per attempt, one request per URL,
// the response body pulled in small blocks, and a read position that can be
// moved so that an interrupted file continues where it stopped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace launcher {

class StopFlag;

struct HttpSettings {
    std::string userAgent = "lpload";
    unsigned connectTimeoutMs = 2000;
    // A response that delivers nothing for this long ends the request.
    unsigned receiveTimeoutMs = 2000;
    // A transfer slower than lowSpeedBytes per second for lowSpeedSeconds ends
    // too, so a trickling server cannot hold an attempt for ever.
    unsigned lowSpeedBytes = 64;
    unsigned lowSpeedSeconds = 15;
    // Largest body accepted; 0 means no limit.
    std::uint64_t maxBodyBytes = 0;
    // TLS public key pin in curl's form ("sha256//BASE64;..."); empty: none.
    std::string pinnedPublicKey;
    // PEM certificates trusted beside the system's store; empty: the store alone.
    std::string caCertificates;
};

class HttpRequest {
public:
    virtual ~HttpRequest() = default;
    // Makes the next Read deliver the body from byte `offset` on. Status and
    // length stay those of a plain GET of the whole resource. An offset at the
    // very end of the body succeeds and leaves nothing to read.
    virtual bool SetReadPosition(std::uint32_t offset) = 0;
    // HTTP status of the response (a satisfied range request reads as 200).
    virtual bool QueryStatusCode(int& status) = 0;
    // Length of the whole resource, 0 when the server announced none.
    virtual std::uint32_t QueryContentLength() = 0;
    // Delivers up to `capacity` bytes; `delivered` 0 means the body has ended.
    // Returns false when the transfer failed (time-out, broken connection).
    virtual bool Read(char* buffer, std::size_t capacity, std::size_t& delivered) = 0;
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
};

// Opens a session of this platform's HTTP client; `stop` (may be null) aborts
// every transfer of the session within a fraction of a second.
std::unique_ptr<HttpSession> OpenHttpSession(const HttpSettings& settings,
                                             std::shared_ptr<StopFlag> stop);

}  // namespace launcher
