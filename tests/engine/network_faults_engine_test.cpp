// The network-fault table through the whole engine, as LauncherCli runs it: a
// client at patch 1, a version list announcing patch 2, and one server
// behaviour on the package (or the list) through all five attempts. Then an
// honest server and a second run, which must bring the client up to date
// without fetching again what the first run kept.
#include <zlib.h>

#include "engine/version_records.h"
#include "platform/files.h"
#include "tests/engine/engine_fixture.h"
#include "tests/support/network_faults.h"
#include "transfer/decompressor.h"

namespace launcher::test {
namespace {

using namespace faults;

const char kListPath[] = "/corvatheon_version/corvatheon2_online/SERVERVER.INI";
const char kPackagePath[] = "/corvatheon2_online/00001.DAT";
const char kPackage[] = "00001.DAT";

class NetworkFaultEngineTest : public PackageEngineTest,
                               public ::testing::WithParamInterface<Row> {
protected:
    std::vector<std::string> NewBoxes(std::size_t before) const {
        auto texts = boxes_.Texts();
        return {texts.begin() + static_cast<long>(before), texts.end()};
    }
};

TEST_P(NetworkFaultEngineTest, TheRunEndsCleanlyAndAnHonestRunConverges) {
    const Row& row = GetParam();
    const bool onList = row.target == Target::kVersionList;
    const std::string path = onList ? kListPath : kPackagePath;
    const std::string local = onList ? kServerVersionList : kPackage;
    const std::string list = VersionList("1.1.6.0", 2);

    WriteFile(kClientVersionFile, "00001");
    ServeVersionList(list);
    server_.ServeFile(kPackagePath, Remote());
    WriteLocal(local, row.before);
    environment_.http = Settings(row.timing);
    TestHttpServer unused;
    if (row.install) {
        row.install(server_, path, std::make_shared<const std::string>(Remote()));
    } else {
        unused.Stop();
        (onList ? environment_.deployment.versionHost : environment_.deployment.downloadHost) =
            unused.Origin();
    }

    RunToEnd();
    switch (row.outcome) {
        case Outcome::kUpToDate:
            EXPECT_EQ(g_nLaunchBlock, 0);
            EXPECT_EQ(boxes_.Texts(), std::vector<std::string>{});
            EXPECT_EQ(ReadFile(kClientVersionFile), "00002");
            EXPECT_EQ(ReadFile("patch-1.txt"), EntryContent());
            break;
        case Outcome::kDownloadFailed:
            EXPECT_EQ(g_nLaunchBlock, 2);
            EXPECT_EQ(boxes_.Texts(), std::vector<std::string>{"[更新失败]"});
            break;
        case Outcome::kDamagedPackage:
            EXPECT_EQ(g_nLaunchBlock, 2);
            EXPECT_EQ(boxes_.Texts(), std::vector<std::string>{"[补丁解压失败]"});
            break;
        case Outcome::kListNotFetched:
            EXPECT_EQ(g_nLaunchBlock, 2);
            EXPECT_EQ(boxes_.Texts(), std::vector<std::string>{});
            EXPECT_EQ(owner_.ShowsAndTexts(), ListFailedLook());
            EXPECT_TRUE(server_.RequestsFor(kPackagePath).empty());
            break;
    }
    if (row.outcome != Outcome::kUpToDate) {
        EXPECT_EQ(ReadFile(kClientVersionFile), "00001");
        EXPECT_FALSE(Exists("patch-1.txt"));
        EXPECT_FALSE(FailureReason().empty());
        if (*row.reason) {
            EXPECT_NE(FailureReason().find(row.reason), std::string::npos) << FailureReason();
        }
        // Five fruitless attempts; a trickle brings bytes and ends by the floor.
        if (row.install && row.outcome != Outcome::kDamagedPackage) {
            EXPECT_GE(server_.RequestsFor(path).size(), row.timing == Timing::kTrickle ? 1u : 5u);
        }
    }
    EXPECT_TRUE(LocalIs(local, row.afterRun));
    EXPECT_FALSE(Exists(kServerVersionList));

    // The honest run.
    const long long kept = FileSize(kPackage);
    CMyFun::ResetForNewRun();
    environment_.deployment.versionHost = environment_.deployment.downloadHost = server_.Origin();
    if (onList) ServeVersionList(list);
    server_.ServeFile(kPackagePath, Remote());
    server_.ClearRequests();
    const std::size_t boxesBefore = boxes_.Texts().size();

    RunToEnd();
    EXPECT_EQ(g_nLaunchBlock, 0);
    EXPECT_EQ(NewBoxes(boxesBefore), std::vector<std::string>{});
    EXPECT_EQ(ReadFile(kClientVersionFile), "00002");
    EXPECT_EQ(ReadFile("patch-1.txt"), EntryContent());
    EXPECT_FALSE(Exists(kPackage));
    EXPECT_FALSE(Exists(kServerVersionList));
    const auto fetched = server_.RequestsFor(kPackagePath);
    if (row.outcome == Outcome::kUpToDate) {
        EXPECT_TRUE(fetched.empty());
    } else {
        ASSERT_EQ(fetched.size(), 1u);
        EXPECT_EQ(fetched[0].Header("range"),
                  kept > 0 ? "bytes=" + std::to_string(kept) + "-" : "");
    }
}

INSTANTIATE_TEST_SUITE_P(Table, NetworkFaultEngineTest, ::testing::ValuesIn(Rows()), RowName);

}  // namespace
}  // namespace launcher::test
