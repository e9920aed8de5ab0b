// Byte ranges against a real server on 127.0.0.1: what is accepted as the
// range asked for, and what is named as a wrong answer.
#include "transfer/fetch_range.h"

#include <gtest/gtest.h>

#include "tests/support/fakes.h"
#include "tests/support/test_http_server.h"

namespace launcher {
namespace {

using test::HttpRequestRecord;
using test::RawConnection;

TEST(FetchRangeTest, AcceptsOnlyTheRangeAskedFor) {
    const std::string content = test::PatternBytes(20000, 3);
    const std::string big(kWholeFileInsteadOfRange + 1, 'x');
    auto answer = [](std::string head, std::string body) {
        return [head, body](const HttpRequestRecord&, RawConnection& c) {
            c.Send("HTTP/1.1 " + head + "\r\nContent-Length: " + std::to_string(body.size()) +
                   "\r\nConnection: close\r\n\r\n" + body);
        };
    };
    const struct {
        const char* name;
        test::TestHttpServer::Handler handler;  // null: served honestly
        RangeFailure failure;
        std::string why;
    } rows[] = {
        {"206 of the range", nullptr, RangeFailure::kNone, ""},
        {"200 of a small file: cut out", answer("200 OK", content), RangeFailure::kNone, ""},
        {"200 of a large file", answer("200 OK", big), RangeFailure::kAnswer, "ignores range"},
        {"another range",
         answer("206 Partial\r\nContent-Range: bytes 1001-1100/20000", content.substr(1001, 100)),
         RangeFailure::kWrongLength, "range answer of the wrong length"},
        {"short body",
         answer("206 Partial\r\nContent-Range: bytes 1000-1099/20000", content.substr(1000, 60)),
         RangeFailure::kWrongLength, "60 of the 100 bytes"},
        {"404", answer("404 Not Found", ""), RangeFailure::kAnswer, "status 404"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        test::TestHttpServer server;
        if (row.handler) {
            server.Handle("/p", row.handler);
        } else {
            server.ServeFile("/p", content);
        }
        HttpSettings settings;
        auto session = OpenHttpSession(settings, nullptr);
        std::string got;
        const RangeResult result = FetchByteRange(*session, settings, server.Origin() + "/p", 1000,
                                                  100, [&](const char* data, std::size_t size) {
                                                      got.append(data, size);
                                                      return true;
                                                  });
        EXPECT_EQ(result.failure, row.failure) << result.why;
        EXPECT_NE(result.why.find(row.why), std::string::npos) << result.why;
        if (row.failure == RangeFailure::kNone) {
            EXPECT_EQ(got, content.substr(1000, 100));
        }
        EXPECT_EQ(server.Requests().at(0).Header("range"), "bytes=1000-1099");
    }
}

}  // namespace
}  // namespace launcher
