// A real HTTP/1.1 server on 127.0.0.1 for tests, started by the test itself.
// Files registered with ServeFile are served honestly (Content-Length, ranges
// answered with 206 and Content-Range, 416 past the end); Handle lets a test
// script any behaviour on the raw connection (drops, stalls, odd headers).
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace launcher::test {

struct HttpRequestRecord {
    std::string method;
    std::string path;
    // Header names in lower case.
    std::map<std::string, std::string> headers;
    std::string Header(const std::string& lowerName) const {
        auto it = headers.find(lowerName);
        return it == headers.end() ? std::string() : it->second;
    }
};

// The raw side of one accepted connection, for scripted handlers.
class RawConnection {
public:
    virtual ~RawConnection() = default;
    // Sends bytes as they are; false once the peer has gone.
    virtual bool Send(std::string_view bytes) = 0;
    // Sleeps, waking early when the server stops; false when it stopped.
    virtual bool Pause(unsigned ms) = 0;
};

class TestHttpServer {
public:
    using Handler = std::function<void(const HttpRequestRecord&, RawConnection&)>;

    TestHttpServer();   // listens on 127.0.0.1 at a free port
    ~TestHttpServer();  // stops and joins every connection
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    int Port() const;
    std::string Origin() const;  // "http://127.0.0.1:<port>"

    void ServeFile(const std::string& path, std::string content);
    void Handle(const std::string& path, Handler handler);
    void Remove(const std::string& path);
    // Every request received so far, in arrival order.
    std::vector<HttpRequestRecord> Requests() const;
    std::vector<HttpRequestRecord> RequestsFor(const std::string& path) const;
    void ClearRequests();
    // Stops listening; later connections are refused.
    void Stop();

    // The honest answer for `content` to `request` (status line, headers, body),
    // for handlers that misbehave only in part.
    static std::string HonestResponse(const HttpRequestRecord& request, const std::string& content);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace launcher::test
