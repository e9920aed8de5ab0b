// DownloadFile against a real HTTP server on 127.0.0.1, into real files: the
// messages, continuing, stopping and local failures. Server misbehaviour is
// the network-fault table (network_faults_test.cpp).
#include "transfer/download_file.h"

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <chrono>
#include <csignal>
#include <optional>
#include <thread>

#include "platform/files.h"
#include "platform/stop_flag.h"
#include "tests/support/fakes.h"
#include "tests/support/test_http_server.h"

namespace launcher {
namespace {

using test::HttpRequestRecord;
using test::Msg;
using test::OwnerCall;
using test::PatternBytes;
using test::RawConnection;
using test::TestHttpServer;
using Progress = std::pair<std::uint32_t, std::uint32_t>;
using SteadyClock = std::chrono::steady_clock;

const char kLocal[] = "00006.DAT";


// Sends `bytes` as they are, then keeps the connection open for `holdMs`.
TestHttpServer::Handler Raw(std::string bytes, unsigned holdMs = 0) {
    return [bytes, holdMs](const HttpRequestRecord&, RawConnection& connection) {
        if (connection.Send(bytes) && holdMs) connection.Pause(holdMs);
    };
}

std::string Head(const std::string& status, const std::string& headers) {
    return "HTTP/1.1 " + status + "\r\n" + headers + "Connection: close\r\n\r\n";
}

class DownloadFileTest : public test::TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        context_.owner = &owner_;
        // N - B = 4, C - B = 1: the total bar reads 25 during a file and 50 at its end.
        context_.totalBarPosition = [](std::uint32_t present, std::uint32_t announced) {
            return TotalBarPosition(5, 1, 2, present, announced);
        };
        context_.http.receiveTimeoutMs = 500;
    }

    int Fetch(const std::string& path = "/f") {
        return DownloadFile(server_.Origin() + path, kLocal, context_);
    }

    std::vector<Progress> ProgressSent() const {
        std::vector<Progress> out;
        for (const auto& call : owner_.MessagesTo(kDialog, kWmDownloadProgress))
            out.emplace_back(call.wParam, call.lParam);
        return out;
    }

    TestHttpServer server_;
    test::RecordingOwner owner_;
    DownloadContext context_;
};

TEST_F(DownloadFileTest, NewAndContinuedFilesEndCompleteAndAskOnlyForTheMissingPart) {
    struct Case {
        const char* name;
        std::size_t remote;
        std::optional<std::size_t> local;  // bytes already present, none: no file
        const char* range;                 // Range header of the one request
        std::size_t progressMessages;
        std::uint64_t cap = 0;  // bytes per second; 0: none
    };
    const Case cases[] = {
        {"new file", 3000, std::nullopt, "", 4},
        {"empty local file", 3000, 0, "", 4},
        {"from the middle", 1000, 300, "bytes=300-", 2},
        {"already complete", 1000, 1000, "bytes=1000-", 1},
        // Held to the cap by the reader: 3000 bytes at 8 KiB/s take 366 ms.
        {"capped", 3000, std::nullopt, "", 4, 8192},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string content = PatternBytes(c.remote, 7);
        server_.ServeFile("/f", content);
        server_.ClearRequests();
        owner_.Clear();
        RemoveFile(kLocal);
        if (c.local) WriteFile(kLocal, content.substr(0, *c.local));
        context_.http.maxBytesPerSecond = c.cap;

        const auto start = SteadyClock::now();
        EXPECT_EQ(Fetch(), 1);
        if (c.cap) {
            EXPECT_GE(SteadyClock::now() - start, std::chrono::milliseconds(360));
        }
        EXPECT_EQ(ReadFile(kLocal), content);
        auto requests = server_.RequestsFor("/f");
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].Header("range"), c.range);
        EXPECT_EQ(requests[0].Header("user-agent"), "lpload");
        auto progress = ProgressSent();
        ASSERT_EQ(progress.size(), c.progressMessages);
        EXPECT_EQ(progress.front(), Progress(c.local.value_or(0), c.remote));
        EXPECT_EQ(progress.back(), Progress(c.remote, c.remote));
    }
}

TEST_F(DownloadFileTest, SendsTheExactMessagesForA2500ByteFile) {
    server_.ServeFile("/f", PatternBytes(2500));
    ASSERT_EQ(Fetch(), 1);

    auto expected = test::FetcherStartMessages();
    expected.push_back(Msg(kIdProgressFile, kPbmSetRange32, 0, 2500));
    expected.push_back(Msg(kDialog, kWmDownloadProgress, 0, 2500));
    for (std::uint32_t l : {1024u, 2048u, 2500u}) {
        expected.push_back(Msg(kIdProgressTotal, kPbmSetPos, l == 2500 ? 50 : 25, 0));
        expected.push_back(Msg(kDialog, kWmDownloadProgress, l, 2500));
    }
    EXPECT_EQ(owner_.Calls(), expected);
}

std::string Remote() {
    return PatternBytes(1000, 3);
}
const std::string kHead1000 = Head("200 OK", "Content-Length: 1000\r\n");

TEST_F(DownloadFileTest, WorksWithoutAnOwner) {
    server_.ServeFile("/f", Remote());
    context_.owner = nullptr;
    EXPECT_EQ(Fetch(), 1);
    EXPECT_EQ(ReadFile(kLocal), Remote());
}

TEST_F(DownloadFileTest, StopRequestAbortsAStalledTransfer) {
    server_.Handle("/f", Raw(kHead1000 + Remote().substr(0, 400), 30000));
    context_.http.receiveTimeoutMs = 30000;
    context_.stop = std::make_shared<StopFlag>();
    std::thread stopper([stop = context_.stop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        stop->RequestStop();
    });
    const auto start = SteadyClock::now();
    EXPECT_EQ(Fetch(), 0);
    EXPECT_LT(SteadyClock::now() - start, std::chrono::seconds(5));
    stopper.join();
    EXPECT_EQ(ReadFile(kLocal), Remote().substr(0, 400));
}

TEST_F(DownloadFileTest, FailedLocalWriteEndsTheAttempt) {
    // The file-size limit makes the write fail the way a full disk would.
    server_.ServeFile("/f", PatternBytes(3000));
#ifndef _WIN32  // no file-size limit there; see tests/wine_excluded.filter
    rlimit previous{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = previous;
    limited.rlim_cur = 1500;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const int result = Fetch();
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_EQ(result, 0);
    EXPECT_EQ(ReadFile(kLocal), PatternBytes(3000).substr(0, 1500));
#endif
}

TEST(TotalBarTest, StepAndPosition) {
    struct Case {
        int latest, start, client;
        std::uint32_t present, announced;
        int step, position;
    };
    const Case cases[] = {
        {5, 1, 2, 100, 1000, 25, 25},   // N - B = 4, within the second file
        {5, 1, 2, 1000, 1000, 25, 50},  // ... and at its end
        {4, 1, 3, 10, 10, 33, 99},      // N - B = 3 never reaches 100
        {4, 1, 1, 5, 10, 33, 0},
        {151, 1, 50, 10, 10, 0, 0},  // N - B above 100: the bar stays at 0
        {7, 7, 7, 5, 10, 100, 0},    // N == B
        {7, 7, 7, 10, 10, 100, 100},
        {7, 7, 7, 10, 0, 100, 0},       // no length announced yet
        {5, 1, 2, 2500, 1000, 25, 75},  // the quotient is not capped at 1
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.latest << "/" << c.start << "/" << c.client << " "
                                          << c.present << "/" << c.announced);
        EXPECT_EQ(TotalBarStep(c.latest, c.start), c.step);
        EXPECT_EQ(TotalBarPosition(c.latest, c.start, c.client, c.present, c.announced),
                  c.position);
    }
}

}  // namespace
}  // namespace launcher
