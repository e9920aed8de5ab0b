// The curl realisation of the HTTP layer against a real server on 127.0.0.1:
// what a moved read position turns into, and the limits of a request.
#include "platform/http.h"
#include "tests/support/fakes.h"
#include "tests/support/test_http_server.h"

namespace launcher {
namespace {

using test::HttpRequestRecord;
using test::PatternBytes;
using test::RawConnection;
using test::TestHttpServer;

// Reads the rest of the body in blocks of at most `block` bytes; false when a
// read failed.
bool ReadAll(HttpRequest& request, std::string& out, std::size_t block = 1024) {
    std::vector<char> buffer(block);
    for (;;) {
        std::size_t delivered = 0;
        if (!request.Read(buffer.data(), buffer.size(), delivered)) return false;
        if (delivered > block) return false;
        if (delivered == 0) return true;
        out.append(buffer.data(), delivered);
    }
}

class CurlHttpTest : public ::testing::Test {
protected:
    std::unique_ptr<HttpRequest> Open(std::uint32_t expectedOffset,
                                      const std::string& path = "/f") {
        auto session = OpenHttpSession(settings_, nullptr);
        return session ? session->OpenUrl(server_.Origin() + path, expectedOffset) : nullptr;
    }

    TestHttpServer server_;
    HttpSettings settings_;
};

TEST_F(CurlHttpTest, ReadPositionMapsEveryAnswerToAPlainGet) {
    const std::string content = PatternBytes(300000, 5);
    struct Case {
        const char* name;
        bool honest;                     // else the server ignores ranges
        std::uint32_t expected, moveTo;  // offset announced at open, then moved to
        std::size_t requests;
    };
    const Case cases[] = {
        {"range sent at once", true, 5000, 5000, 1},
        {"range ignored, head skipped", false, 5000, 5000, 1},
        {"another offset, new request", true, 0, 123457, 2},
        {"back to the start", true, 5000, 0, 2},
        {"at the very end", true, 300000, 300000, 1},
        {"at the end, range ignored", false, 300000, 300000, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        server_.ClearRequests();
        if (c.honest) {
            server_.ServeFile("/f", content);
        } else {
            server_.Handle("/f", [&content](const HttpRequestRecord&, RawConnection& connection) {
                connection.Send("HTTP/1.1 200 OK\r\nContent-Length: 300000\r\n\r\n" + content);
            });
        }
        auto request = Open(c.expected);
        ASSERT_NE(request, nullptr);
        ASSERT_TRUE(request->SetReadPosition(c.moveTo));
        int status = 0;
        ASSERT_TRUE(request->QueryStatusCode(status));
        EXPECT_EQ(status, 200);
        EXPECT_EQ(request->QueryContentLength(), content.size());
        std::string body;
        EXPECT_TRUE(ReadAll(*request, body));
        EXPECT_TRUE(body == content.substr(c.moveTo)) << body.size() << " bytes";
        EXPECT_EQ(server_.Requests().size(), c.requests);
    }
}

TEST_F(CurlHttpTest, UnknownLengthBodyIsCutAtTheLimit) {
    settings_.maxBodyBytes = 64 * 1024;
    server_.Handle("/f", [](const HttpRequestRecord&, RawConnection& connection) {
        if (!connection.Send("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n")) return;
        const std::string chunk(4096, 'y');
        while (connection.Send(chunk)) {
        }
    });
    auto request = Open(0);
    ASSERT_NE(request, nullptr);
    EXPECT_EQ(request->QueryContentLength(), 0u);
    std::string body;
    EXPECT_FALSE(ReadAll(*request, body));
    EXPECT_EQ(body.size(), settings_.maxBodyBytes);
}

}  // namespace
}  // namespace launcher
