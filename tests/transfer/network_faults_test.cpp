// One DownloadFile attempt against each row of the network-fault table, on a
// real server on 127.0.0.1, then one honest attempt that must finish the file
// from where the faulty one left it.
#include "tests/support/network_faults.h"

#include <chrono>

#include "platform/files.h"
#include "transfer/download_file.h"

namespace launcher {
namespace {

using namespace test::faults;
using test::HttpRequestRecord;
using test::Msg;
using test::OwnerCall;
using test::RawConnection;
using test::TestHttpServer;

constexpr std::uint64_t kVersionListCap = 1024 * 1024;


class NetworkFaultTest : public test::TempDirTest, public ::testing::WithParamInterface<Row> {
protected:
    DownloadContext Context(const Row& row) {
        DownloadContext context;
        context.owner = &owner_;
        context.totalBarPosition = [](std::uint32_t present, std::uint32_t announced) {
            return TotalBarPosition(2, 1, 1, present, announced);
        };
        context.http = Settings(row.timing);
        // As the engine fetches the version list.
        if (row.target == Target::kVersionList) context.http.maxBodyBytes = kVersionListCap;
        return context;
    }

    TestHttpServer server_;
    test::RecordingOwner owner_;
};

TEST_P(NetworkFaultTest, OneAttemptKeepsWhatArrivedAndAnHonestOneFinishes) {
    const Row& row = GetParam();
    const std::string local = row.target == Target::kPackage ? "00001.DAT" : "SERVERVER.INI";
    const std::string path = "/f";
    WriteLocal(local, row.before);
    std::string origin = server_.Origin();
    TestHttpServer unused;
    if (row.install) {
        row.install(server_, path, std::make_shared<const std::string>(Remote()));
    } else {
        origin = unused.Origin();
        unused.Stop();
    }
    const DownloadContext context = Context(row);

    EXPECT_EQ(DownloadFile(origin + path, local, context), row.result);
    EXPECT_TRUE(LocalIs(local, row.after));
    const auto calls = owner_.Calls();
    const auto start = test::FetcherStartMessages();
    ASSERT_GE(calls.size(), start.size());
    EXPECT_TRUE(std::equal(start.begin(), start.end(), calls.begin()));
    // The progress shown never runs ahead of the file: the last amount
    // reported is what the file holds (a longer local file is reported as
    // found, then emptied).
    const auto progress = owner_.MessagesTo(kDialog, kWmDownloadProgress);
    if (!progress.empty() && progress.back().wParam <= progress.back().lParam) {
        EXPECT_EQ(progress.back().wParam, static_cast<std::uint32_t>(FileSize(local)));
    }
    if (row.name == std::string("RedirectFollowed")) {
        const auto moved = server_.RequestsFor(kMirror + path);
        ASSERT_EQ(moved.size(), 1u);
        EXPECT_EQ(moved[0].Header("range"), "bytes=1500-");
    }

    // An honest server: the next attempt continues from what is there.
    const long long kept = FileSize(local);
    server_.ServeFile(path, Remote());
    server_.ClearRequests();
    EXPECT_EQ(DownloadFile(server_.Origin() + path, local, context), 1);
    EXPECT_TRUE(LocalIs(local, Prefix(Remote().size())));
    const auto requests = server_.RequestsFor(path);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Header("range"), kept > 0 ? "bytes=" + std::to_string(kept) + "-" : "");
}

INSTANTIATE_TEST_SUITE_P(Table, NetworkFaultTest, ::testing::ValuesIn(Rows()), RowName);

// The rows above shorten the idle time-out; this one runs the shipped 2000 ms,
// once, to show that it is what ends a transfer that stops mid-body. The bounds
// only show that the time-out neither fires early nor hangs.
class ShippedTimeoutTest : public test::TempDirTest {};

TEST_F(ShippedTimeoutTest, AnIdleTransferEndsAfterTwoSeconds) {
    TestHttpServer server;
    HonestUntil(1000, kHoldMs)(server, "/f", std::make_shared<const std::string>(Remote()));
    const DownloadContext context;  // the shipped settings
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(DownloadFile(server.Origin() + "/f", "00001.DAT", context), 0);
    const auto took = std::chrono::steady_clock::now() - begin;
    EXPECT_GE(took, std::chrono::milliseconds(1900));
    EXPECT_LT(took, std::chrono::seconds(10));
    EXPECT_TRUE(LocalIs("00001.DAT", Prefix(1000)));
}

}  // namespace
}  // namespace launcher
