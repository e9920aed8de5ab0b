// One thread accepts, one thread per connection answers a single request and
// closes. Stop wakes the accept loop through a pipe, wakes pausing handlers and
// shuts down open sockets so that every thread can be joined at once.
#include "tests/support/test_http_server.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <set>
#include <stdexcept>
#include <thread>

#include "platform/ascii_text.h"

namespace launcher::test {

#ifdef _WIN32
using Socket = SOCKET;
constexpr Socket kNoSocket = INVALID_SOCKET;
constexpr int kSendFlags = 0;
constexpr int kShutSend = SD_SEND;
constexpr int kShutBoth = SD_BOTH;
void CloseSocket(Socket s) {
    ::closesocket(s);
}
bool Interrupted() {
    return false;
}
bool WouldBlock() {
    return ::WSAGetLastError() == WSAEWOULDBLOCK;
}
void MakeNonBlocking(Socket s) {
    u_long yes = 1;
    ::ioctlsocket(s, FIONBIO, &yes);
}
int PollSocket(pollfd* fds, unsigned count, int ms) {
    return ::WSAPoll(fds, count, ms);
}
// Programs are started without inheriting handles.
void CloseOnExec(Socket) {}
struct WinsockStarted {
    WinsockStarted() {
        WSADATA data;
        ::WSAStartup(MAKEWORD(2, 2), &data);
    }
};
#else
using Socket = int;
constexpr Socket kNoSocket = -1;
constexpr int kSendFlags = MSG_NOSIGNAL;
constexpr int kShutSend = SHUT_WR;
constexpr int kShutBoth = SHUT_RDWR;
void CloseSocket(Socket s) {
    ::close(s);
}
bool Interrupted() {
    return errno == EINTR;
}
bool WouldBlock() {
    return errno == EAGAIN || errno == EWOULDBLOCK;
}
void MakeNonBlocking(Socket s) {
    ::fcntl(s, F_SETFL, ::fcntl(s, F_GETFL) | O_NONBLOCK);
}
int PollSocket(pollfd* fds, nfds_t count, int ms) {
    return ::poll(fds, count, ms);
}
// A started program keeps no test connection open.
void CloseOnExec(Socket s) {
    ::fcntl(s, F_SETFD, FD_CLOEXEC);
}
#endif
namespace {

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

bool ParseUnsigned(const std::string& s, std::size_t& value) {
    if (s.empty()) return false;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    return ec == std::errc() && end == s.data() + s.size();
}

std::string Head(const std::string& statusLine, const std::string& headers) {
    return "HTTP/1.1 " + statusLine + "\r\n" + headers +
           "Content-Type: application/octet-stream\r\nConnection: close\r\n\r\n";
}

}  // namespace

struct TestHttpServer::Impl {
    Socket listenFd = kNoSocket;
    int port = 0;
    std::thread acceptThread;

    mutable std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    std::map<std::string, Handler> routes;
    std::vector<HttpRequestRecord> requests;
    std::set<Socket> openFds;
    std::vector<std::thread> connections;

    class Connection : public RawConnection {
    public:
        Connection(Impl& impl, Socket fd) : impl_(impl), fd_(fd) {}
        // Waits for room in short slices: a blocking send to a peer that
        // went away without reading is not always ended by the reset under
        // Wine, and Stop must be able to join every connection.
        bool Send(std::string_view bytes) override {
            MakeNonBlocking(fd_);
            while (!bytes.empty()) {
                const int size = static_cast<int>(std::min<std::size_t>(bytes.size(), 1 << 20));
                const auto sent = ::send(fd_, bytes.data(), size, kSendFlags);
                if (sent > 0) {
                    bytes.remove_prefix(static_cast<std::size_t>(sent));
                    continue;
                }
                if (sent < 0 && Interrupted()) continue;
                if (sent == 0 || !WouldBlock()) return false;
                if (Stopping()) return false;
                pollfd room{fd_, POLLOUT, 0};
                PollSocket(&room, 1, 50);
            }
            return true;
        }
        bool Pause(unsigned ms) override {
            std::unique_lock lock(impl_.mutex);
            return !impl_.wake.wait_for(lock, std::chrono::milliseconds(ms),
                                        [this] { return impl_.stopping; });
        }

    private:
        bool Stopping() {
            std::lock_guard lock(impl_.mutex);
            return impl_.stopping;
        }
        Impl& impl_;
        Socket fd_;
    };

    void AcceptLoop() {
        for (;;) {
            // Stop wakes this by connecting once more.
            Socket fd = ::accept(listenFd, nullptr, nullptr);
            if (fd == kNoSocket) {
                if (Interrupted()) continue;
                return;
            }
            CloseOnExec(fd);
            std::lock_guard lock(mutex);
            if (stopping) {
                CloseSocket(fd);
                return;
            }
            openFds.insert(fd);
            connections.emplace_back([this, fd] { Serve(fd); });
        }
    }

    // Reads one request head; false when the peer went away first.
    static bool ReadRequest(Socket fd, HttpRequestRecord& record) {
        std::string data;
        char chunk[4096];
        while (data.find("\r\n\r\n") == std::string::npos) {
            const auto got = ::recv(fd, chunk, sizeof chunk, 0);
            if (got < 0 && Interrupted()) continue;
            if (got <= 0) return false;
            data.append(chunk, static_cast<std::size_t>(got));
        }
        auto lineEnd = data.find("\r\n");
        std::string requestLine = data.substr(0, lineEnd);
        auto space1 = requestLine.find(' ');
        auto space2 = requestLine.find(' ', space1 + 1);
        if (space1 == std::string::npos || space2 == std::string::npos) return false;
        record.method = requestLine.substr(0, space1);
        record.path = requestLine.substr(space1 + 1, space2 - space1 - 1);
        std::size_t pos = lineEnd + 2;
        for (;;) {
            auto end = data.find("\r\n", pos);
            if (end == pos || end == std::string::npos) break;
            std::string line = data.substr(pos, end - pos);
            auto colon = line.find(':');
            if (colon != std::string::npos)
                record.headers[Lower(std::string(Trim(line.substr(0, colon))))] =
                    std::string(Trim(line.substr(colon + 1)));
            pos = end + 2;
        }
        return true;
    }

    void Serve(Socket fd) {
        HttpRequestRecord record;
        if (ReadRequest(fd, record)) {
            Handler handler;
            {
                std::lock_guard lock(mutex);
                requests.push_back(record);
                auto it = routes.find(record.path);
                if (it != routes.end()) handler = it->second;
            }
            Connection connection(*this, fd);
            if (handler) {
                handler(record, connection);
            } else {
                connection.Send(Head("404 Not Found", "Content-Length: 9\r\n") + "not found");
            }
        }
        std::lock_guard lock(mutex);
        ::shutdown(fd, kShutSend);
        CloseSocket(fd);
        openFds.erase(fd);
    }

    void Stop() {
        std::vector<std::thread> threads;
        {
            std::lock_guard lock(mutex);
            if (stopping) return;
            stopping = true;
            // Unblocks handlers in recv/send; each closes its own descriptor.
            for (Socket fd : openFds) ::shutdown(fd, kShutBoth);
        }
        wake.notify_all();
        if (acceptThread.joinable()) {
            Socket waker = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in address = Loopback(port);
            ::connect(waker, reinterpret_cast<sockaddr*>(&address), sizeof address);
            acceptThread.join();
            CloseSocket(waker);
        }
        {
            std::lock_guard lock(mutex);
            threads.swap(connections);
        }
        for (auto& thread : threads) thread.join();
        if (listenFd != kNoSocket) CloseSocket(listenFd);
        listenFd = kNoSocket;
    }

    static sockaddr_in Loopback(int port) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        return address;
    }
};

TestHttpServer::TestHttpServer() : impl_(std::make_unique<Impl>()) {
#ifdef _WIN32
    static const WinsockStarted winsock;
#else
    // The server is on this machine; a proxy configured for it must not stand between.
    ::setenv("no_proxy", "127.0.0.1,localhost", 1);
#endif
    Impl& impl = *impl_;
    impl.listenFd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (impl.listenFd == kNoSocket) throw std::runtime_error("socket");
    CloseOnExec(impl.listenFd);
#ifndef _WIN32
    int yes = 1;
    ::setsockopt(impl.listenFd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
#endif
    sockaddr_in address = Impl::Loopback(0);
    socklen_t length = sizeof address;
    if (::bind(impl.listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(impl.listenFd, 64) != 0 ||
        ::getsockname(impl.listenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        impl.Stop();
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    impl.port = ntohs(address.sin_port);
    impl.acceptThread = std::thread([&impl] { impl.AcceptLoop(); });
}

TestHttpServer::~TestHttpServer() {
    impl_->Stop();
}

int TestHttpServer::Port() const {
    return impl_->port;
}

std::string TestHttpServer::Origin() const {
    return "http://127.0.0.1:" + std::to_string(impl_->port);
}

void TestHttpServer::ServeFile(const std::string& path, std::string content) {
    auto shared = std::make_shared<const std::string>(std::move(content));
    Handle(path, [shared](const HttpRequestRecord& request, RawConnection& connection) {
        connection.Send(HonestResponse(request, *shared));
    });
}

void TestHttpServer::Handle(const std::string& path, Handler handler) {
    std::lock_guard lock(impl_->mutex);
    impl_->routes[path] = std::move(handler);
}

void TestHttpServer::Remove(const std::string& path) {
    std::lock_guard lock(impl_->mutex);
    impl_->routes.erase(path);
}

std::vector<HttpRequestRecord> TestHttpServer::Requests() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->requests;
}

std::vector<HttpRequestRecord> TestHttpServer::RequestsFor(const std::string& path) const {
    std::lock_guard lock(impl_->mutex);
    std::vector<HttpRequestRecord> out;
    for (const auto& r : impl_->requests)
        if (r.path == path) out.push_back(r);
    return out;
}

void TestHttpServer::ClearRequests() {
    std::lock_guard lock(impl_->mutex);
    impl_->requests.clear();
}

void TestHttpServer::Stop() {
    impl_->Stop();
}

std::string TestHttpServer::HonestResponse(const HttpRequestRecord& request,
                                           const std::string& content) {
    const std::size_t size = content.size();
    std::size_t first = 0;
    std::size_t last = size == 0 ? 0 : size - 1;
    bool ranged = false;
    // One range "bytes=F-" or "bytes=F-L"; anything else is answered in full.
    std::string range = request.Header("range");
    if (range.rfind("bytes=", 0) == 0 && range.find(',') == std::string::npos) {
        std::string rangeSet = range.substr(6);
        auto dash = rangeSet.find('-');
        std::size_t f = 0;
        std::size_t l = 0;
        if (dash != std::string::npos && ParseUnsigned(rangeSet.substr(0, dash), f)) {
            std::string lastText = rangeSet.substr(dash + 1);
            if (lastText.empty() || (ParseUnsigned(lastText, l) && l >= f)) {
                if (f >= size) {
                    return Head("416 Range Not Satisfiable", "Content-Range: bytes */" +
                                                                 std::to_string(size) +
                                                                 "\r\nContent-Length: 0\r\n");
                }
                ranged = true;
                first = f;
                if (!lastText.empty()) last = std::min(l, size - 1);
            }
        }
    }
    const bool body = request.method != "HEAD";
    if (!ranged) {
        return Head("200 OK", "Content-Length: " + std::to_string(size) + "\r\n") +
               (body ? content : std::string());
    }
    std::string headers = "Content-Range: bytes " + std::to_string(first) + "-" +
                          std::to_string(last) + "/" + std::to_string(size) +
                          "\r\nContent-Length: " + std::to_string(last - first + 1) + "\r\n";
    return Head("206 Partial Content", headers) +
           (body ? content.substr(first, last - first + 1) : std::string());
}

}  // namespace launcher::test
