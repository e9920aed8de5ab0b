// DownloadFile against a real HTTP server on 127.0.0.1, into real files.
#include "transfer/download_file.h"

#include <sys/resource.h>

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

std::vector<OwnerCall> StartMessages() {
    return {Msg(kIdProgressFile, kPbmSetPos, 0, 0),
            Msg(kIdProgressTotal, kPbmSetPos, 0, 0),
            Msg(kIdProgressFile, kPbmSetBkColor, 0, 0),
            Msg(kIdProgressFile, kPbmSetBarColor, 0, 0x00FFA420),
            Msg(kIdProgressTotal, kPbmSetBkColor, 0, 0),
            Msg(kIdProgressTotal, kPbmSetBarColor, 0, 0x0000FF3C)};
}

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
    };
    const Case cases[] = {
        {"new file", 3000, std::nullopt, "", 4},
        {"empty local file", 3000, 0, "", 4},
        {"from the middle", 1000, 300, "bytes=300-", 2},
        {"already complete", 1000, 1000, "bytes=1000-", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string content = PatternBytes(c.remote, 7);
        server_.ServeFile("/f", content);
        server_.ClearRequests();
        owner_.Clear();
        RemoveFile(kLocal);
        if (c.local) WriteFile(kLocal, content.substr(0, *c.local));

        EXPECT_EQ(Fetch(), 1);
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

    auto expected = StartMessages();
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
std::string RemoteHead(std::size_t bytes) {
    return Remote().substr(0, bytes);
}
const std::string kHead1000 = Head("200 OK", "Content-Length: 1000\r\n");
constexpr long kAbsent = -1;

// One misbehaving answer to the first attempt; an honest server for the next.
struct FaultCase {
    const char* name;
    std::optional<std::string> local;  // the local file before
    TestHttpServer::Handler answer;
    int result;
    long kept;  // the local file afterwards holds this much of the remote one
    bool retry = true;
};

void PrintTo(const FaultCase& c, std::ostream* os) {
    *os << c.name;
}

TestHttpServer::Handler Honest() {
    return [](const HttpRequestRecord& request, RawConnection& connection) {
        connection.Send(TestHttpServer::HonestResponse(request, Remote()));
    };
}

TestHttpServer::Handler PartialWith(std::string contentRange) {
    std::string head = "Content-Length: 700\r\n";
    if (!contentRange.empty()) head += "Content-Range: " + contentRange + "\r\n";
    return Raw(Head("206 Partial Content", head) + Remote().substr(300));
}

class DownloadFaultTest : public DownloadFileTest,
                          public ::testing::WithParamInterface<FaultCase> {};

TEST_P(DownloadFaultTest, KeepsWhatArrivedAndTheNextAttemptCompletes) {
    const FaultCase& c = GetParam();
    const std::string content = Remote();
    if (c.local) WriteFile(kLocal, *c.local);
    server_.Handle("/f", c.answer);

    EXPECT_EQ(Fetch(), c.result);
    if (c.kept == kAbsent) {
        EXPECT_FALSE(Exists(kLocal));
    } else {
        EXPECT_EQ(ReadFile(kLocal), RemoteHead(static_cast<std::size_t>(c.kept)));
    }
    if (!c.retry) return;

    server_.ServeFile("/f", content);
    server_.ClearRequests();
    EXPECT_EQ(Fetch(), 1);
    EXPECT_EQ(ReadFile(kLocal), content);
    auto requests = server_.RequestsFor("/f");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Header("range"),
              c.kept > 0 ? "bytes=" + std::to_string(c.kept) + "-" : "");
}

INSTANTIATE_TEST_SUITE_P(
    ServerBehaviours, DownloadFaultTest,
    ::testing::Values(
        FaultCase{"NotFoundLeavesAnEmptyNewFile", std::nullopt,
                  Raw(Head("404 Not Found", "Content-Length: 3\r\n") + "no!"), 0, 0},
        FaultCase{"ServerErrorKeepsThePartialFile", RemoteHead(300),
                  Raw(Head("503 Busy", "Content-Length: 0\r\n")), 0, 300},
        FaultCase{"NoContentLength", std::nullopt, Raw(Head("200 OK", "") + Remote()), 0, 0},
        FaultCase{"ZeroContentLength", std::nullopt, Raw(Head("200 OK", "Content-Length: 0\r\n")),
                  0, 0},
        FaultCase{"DropInTheHead", std::nullopt, Raw(kHead1000.substr(0, 10)), 0, kAbsent},
        FaultCase{"DropAtBody0", std::nullopt, Raw(kHead1000), 0, 0},
        FaultCase{"DropAtBody1", std::nullopt, Raw(kHead1000 + RemoteHead(1)), 0, 1},
        FaultCase{"DropAtBody600", std::nullopt, Raw(kHead1000 + RemoteHead(600)), 0, 600},
        FaultCase{"DropAtBody999", std::nullopt, Raw(kHead1000 + RemoteHead(999)), 0, 999},
        FaultCase{"LocalLongerThanRemoteIsEmptied", PatternBytes(1200, 9), Honest(), 0, 0},
        FaultCase{"ServerIgnoresTheRange", RemoteHead(300), Raw(kHead1000 + Remote()), 1, 1000,
                  false},
        FaultCase{"CompleteAndTheRangeIgnored", Remote(), Raw(kHead1000 + Remote()), 1, 1000,
                  false},
        FaultCase{"PartialAtTheWrongOffset", RemoteHead(300), PartialWith("bytes 0-699/1000"), 0,
                  300},
        FaultCase{"PartialWithoutContentRange", RemoteHead(300), PartialWith(""), 0, 300},
        FaultCase{"GarbledContentRange", RemoteHead(300), PartialWith("bytes 300-999/lots"), 0,
                  300},
        FaultCase{"ContentRangeEndingBeforeItStarts", RemoteHead(300),
                  PartialWith("bytes 300-200/1000"), 0, 300},
        FaultCase{"UnsatisfiableBeforeTheEnd", RemoteHead(300),
                  Raw(Head("416 Range Not Satisfiable", "Content-Range: bytes */1000\r\n")), 0,
                  300},
        FaultCase{"StallAfterTheHead", std::nullopt, Raw(kHead1000, 30000), 0, 0},
        FaultCase{"StallMidBody", std::nullopt, Raw(kHead1000 + RemoteHead(500), 30000), 0, 500},
        FaultCase{"SilentAfterAccepting", std::nullopt, Raw("", 30000), 0, kAbsent}),
    [](const ::testing::TestParamInfo<FaultCase>& param) { return std::string(param.param.name); });

TEST_F(DownloadFileTest, FollowsARedirectAndCarriesTheRangeAlong) {
    const std::string content = Remote();
    WriteFile(kLocal, content.substr(0, 300));
    server_.Handle("/f", Raw(Head("302 Found", "Location: /moved\r\nContent-Length: 0\r\n")));
    server_.ServeFile("/moved", content);

    EXPECT_EQ(Fetch(), 1);
    EXPECT_EQ(ReadFile(kLocal), content);
    auto moved = server_.RequestsFor("/moved");
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_EQ(moved[0].Header("range"), "bytes=300-");
}

TEST_F(DownloadFileTest, UnreachableServerCreatesNoFile) {
    const std::string origin = server_.Origin();
    server_.Stop();

    EXPECT_EQ(DownloadFile(origin + "/f", kLocal, context_), 0);
    EXPECT_FALSE(Exists(kLocal));
    EXPECT_EQ(owner_.Calls(), StartMessages());
}

TEST_F(DownloadFileTest, WorksWithoutAnOwner) {
    server_.ServeFile("/f", Remote());
    context_.owner = nullptr;
    EXPECT_EQ(Fetch(), 1);
    EXPECT_EQ(ReadFile(kLocal), Remote());
}

// A stalled or trickling server ends the attempt by itself, with the bytes that
// arrived kept; the bound is generous, it only shows that nothing hangs.
TEST_F(DownloadFileTest, StalledAndTricklingServersEndTheAttempt) {
    struct Case {
        const char* name;
        HttpSettings http;
        TestHttpServer::Handler answer;
        std::size_t kept;
    };
    HttpSettings real;  // the shipped 2000 ms
    HttpSettings slowIsDead;
    slowIsDead.lowSpeedSeconds = 1;
    const Case cases[] = {
        {"idle after the head, real time-out", real, Raw(kHead1000, 30000), 0},
        {"idle mid-body, real time-out", real, Raw(kHead1000 + Remote().substr(0, 700), 30000),
         700},
        {"trickle", slowIsDead,
         [](const HttpRequestRecord&, RawConnection& connection) {
             connection.Send(kHead1000);
             for (char byte : Remote())
                 if (!connection.Send(std::string(1, byte)) || !connection.Pause(300)) return;
         },
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RemoveFile(kLocal);
        server_.Handle("/f", c.answer);
        context_.http = c.http;
        const auto start = SteadyClock::now();
        EXPECT_EQ(Fetch(), 0);
        EXPECT_LT(SteadyClock::now() - start, std::chrono::seconds(10));
        if (c.kept) {
            EXPECT_EQ(ReadFile(kLocal), Remote().substr(0, c.kept));
        }
    }
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

TEST_F(DownloadFileTest, EndlessBodyIsCutAtTheLimit) {
    constexpr std::size_t kLimit = 64 * 1024;
    context_.http.maxBodyBytes = kLimit;
    for (const char* length : {"Content-Length: 4000000000\r\n", "Content-Length: 65537\r\n"}) {
        SCOPED_TRACE(length);
        RemoveFile(kLocal);
        server_.Handle("/f", [length](const HttpRequestRecord&, RawConnection& connection) {
            if (!connection.Send(Head("200 OK", length))) return;
            const std::string chunk(8192, 'x');
            while (connection.Send(chunk)) {
            }
        });
        EXPECT_EQ(Fetch(), 0);
        EXPECT_LE(ReadFile(kLocal).size(), kLimit);
    }
}

TEST_F(DownloadFileTest, FailedLocalWriteEndsTheAttempt) {
    // The file-size limit makes the write fail the way a full disk would.
    server_.ServeFile("/f", PatternBytes(3000));
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
