// The patch loop against packages served by a real HTTP server on 127.0.0.1.
#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <numeric>

#include "engine/patch_loop.h"
#include "engine/version_records.h"
#include "platform/files.h"
#include "tests/engine/engine_fixture.h"
#include "tests/engine/package_builder.h"
#include "transfer/decompressor.h"

namespace launcher::test {
namespace {

std::string PackagePath(int number) {
    return "/corvatheon2_online/" + FiveDigits(number) + ".DAT";
}

class PatchLoopTest : public PackageEngineTest {
protected:

    // Package N writes "patch-N.txt" and rewrites "common\version.txt".
    void ServePackages(int from, int to) {
        for (int n = from; n < to; ++n) {
            server_.ServeFile(PackagePath(n),
                              BuildPackage({{"patch-" + std::to_string(n) + ".txt", "patch " +
                                                                                      std::to_string(n)},
                                            {"common\\version.txt", std::to_string(n + 1)}}));
        }
    }

    std::vector<std::uint32_t> TotalBar() const {
        std::vector<std::uint32_t> positions;
        for (const auto& call : owner_.MessagesTo(kIdProgressTotal, kPbmSetPos))
            positions.push_back(call.wParam);
        return positions;
    }

    unsigned PausedMs() const {
        auto pauses = clock_.Pauses();
        return std::accumulate(pauses.begin(), pauses.end(), 0u);
    }
};

TEST_F(PatchLoopTest, OnePatchFromOneToTwo) {
    WriteFile(kClientVersionFile, "00001");
    ServeVersionList(VersionList("1.1.6.0", 2));
    ServePackages(1, 2);

    EXPECT_EQ(RunToEnd(), 8);  // state 0: 4 calls, state 1: 3, state 2: 1
    EXPECT_EQ(ReadFile(kClientVersionFile), "00002");
    EXPECT_EQ(ReadFile("patch-1.txt"), "patch 1");
    EXPECT_EQ(ReadFile("common/version.txt"), "2");
    EXPECT_FALSE(Exists("00001.DAT"));
    EXPECT_EQ(server_.RequestsFor(PackagePath(1)).size(), 1u);
    // The version list (0, clamped from -100), the package's only block (100),
    // then the applied patch and the finished look.
    EXPECT_EQ(TotalBar(), (std::vector<std::uint32_t>{0, 0, 0, 100, 100, 100}));
    EXPECT_EQ(PausedMs(), 5000u);
    EXPECT_EQ(g_nLaunchBlock, 0);
    EXPECT_EQ(CMyFun::m_nPhase, 5);
    EXPECT_TRUE(boxes_.Boxes().empty());
}

TEST_F(PatchLoopTest, StatusLineAndFinishedLookInOrder) {
    WriteFile(kClientVersionFile, "00001");
    ServeVersionList(VersionList("1.1.6.0", 3));
    ServePackages(1, 3);
    RunToEnd();
    const std::vector<OwnerCall> expected = {
        Show(kIdStaticVersion, kSwHide), Text(kIdStaticVersion, "当前版本: 1 /最新版本： 3"),
        Show(kIdStaticVersion, kSwShowNormal),
        Show(kIdStaticVersion, kSwHide), Text(kIdStaticVersion, "当前版本: 2 /最新版本： 3"),
        Show(kIdStaticVersion, kSwShowNormal),
        // the last package: the finished look, once the number is on disk
        Show(kIdStartIdle, kSwHide), Show(kIdStart, kSwShowNormal),
        Show(kIdStaticVersion, kSwHide), Text(kIdStaticVersion, "当前版本: 3 /最新版本： 3"),
        Show(kIdStaticVersion, kSwShowNormal), Show(kIdStaticUpdating, kSwHide),
        Show(kIdStaticDone, kSwShowNormal),
        // state 2
        Show(kIdStartIdle, kSwHide), Show(kIdStart, kSwShowNormal),
        Show(kIdStaticDone, kSwShowNormal), Show(kIdStaticUpdating, kSwHide)};
    EXPECT_EQ(owner_.ShowsAndTexts(), expected);
}

struct BarCase {
    const char* name;
    const char* clientFile;
    int latest;
    std::vector<std::uint32_t> totalBar;
};

TEST_F(PatchLoopTest, TotalBarArithmetic) {
    const BarCase cases[] = {
        {"1 to 4: steps of 33", "00001", 4, {0, 0, 0, 33, 33, 0, 66, 66, 0, 99, 99, 100}},
        // while the list is fetched the step is 100 (latest still 0): 200 shows as 100
        {"start 0, latest 3: the first package reads 66", "00000", 3,
         {0, 100, 0, 66, 66, 0, 99, 99, 100}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CMyFun::ResetForNewRun();
        owner_.Clear();
        WriteFile(kClientVersionFile, c.clientFile);
        ServeVersionList(VersionList("1.1.6.0", c.latest));
        ServePackages(1, c.latest);
        RunToEnd();
        EXPECT_EQ(TotalBar(), c.totalBar);
        EXPECT_EQ(ReadFile(kClientVersionFile), "0000" + std::to_string(c.latest));
        EXPECT_EQ(ReadFile("common/version.txt"), std::to_string(c.latest));
    }
}

TEST_F(PatchLoopTest, MoreThanAHundredPackagesKeepTheBarAtZeroUntilTheEnd) {
    WriteFile(kClientVersionFile, "00001");
    ServeVersionList(VersionList("1.1.6.0", 103));
    ServePackages(1, 103);
    RunToEnd();
    auto bar = TotalBar();
    ASSERT_FALSE(bar.empty());
    EXPECT_EQ(bar.back(), 100u);
    bar.pop_back();
    EXPECT_TRUE(std::all_of(bar.begin(), bar.end(), [](std::uint32_t p) { return p == 0; }));
    EXPECT_EQ(ReadFile(kClientVersionFile), "00103");
    EXPECT_EQ(PausedMs(), (2 + 3 * 102) * 1000u);
}

TEST_F(PatchLoopTest, APackageThatCannotBeFetched) {
    WriteFile(kClientVersionFile, "00001");
    ServeVersionList(VersionList("1.1.6.0", 3));
    ServePackages(1, 2);  // 00002.DAT is missing

    EXPECT_EQ(RunToEnd(), 7);
    EXPECT_EQ(boxes_.Texts(), std::vector<std::string>{"[更新失败]"});
    auto calls = owner_.ShowsAndTexts();
    const std::vector<OwnerCall> note = {Show(kIdStaticNote, kSwHide), Text(kIdStaticNote, "更新失败"),
                                         Show(kIdStaticNote, kSwShowNormal)};
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(std::vector<OwnerCall>(calls.end() - 3, calls.end()), note);
    EXPECT_EQ(server_.RequestsFor(PackagePath(2)).size(), 5u);
    EXPECT_EQ(ReadFile(kClientVersionFile), "00002");  // the first package is recorded
    EXPECT_EQ(g_nLaunchBlock, 2);
    EXPECT_EQ(CMyFun::m_nError, kErrorDownload);
}

TEST_F(PatchLoopTest, ADamagedPackageIsDeletedAndFetchedAgainNextTime) {
    WriteFile(kClientVersionFile, "00001");
    ServeVersionList(VersionList("1.1.6.0", 2));
    std::string package = BuildPackage({{"a.txt", "fine"}, {"b.txt", std::string(5000, 'b')}});
    std::string damaged = package;
    damaged[damaged.size() - 20] ^= 0x55;  // inside the second payload
    server_.ServeFile(PackagePath(1), damaged);

    EXPECT_EQ(RunToEnd(), 7);
    EXPECT_EQ(boxes_.Texts(), std::vector<std::string>{"[补丁解压失败]"});
    EXPECT_EQ(CMyFun::m_nError, kErrorApply);
    EXPECT_FALSE(Exists("00001.DAT"));
    EXPECT_FALSE(Exists("b.txt"));
    EXPECT_EQ(ReadFile(kClientVersionFile), "00001");
    EXPECT_EQ(g_nLaunchBlock, 2);

    // The operator fixes the package; the next start fetches it again.
    server_.ServeFile(PackagePath(1), package);
    CMyFun::ResetForNewRun();
    EXPECT_EQ(RunToEnd(), 8);
    EXPECT_EQ(ReadFile("b.txt"), std::string(5000, 'b'));
    EXPECT_EQ(ReadFile(kClientVersionFile), "00002");
}

TEST_F(PatchLoopTest, ALocalFailureKeepsThePackage) {
    WriteFile(kClientVersionFile, "00001");
    ServeVersionList(VersionList("1.1.6.0", 2));
    server_.ServeFile(PackagePath(1), BuildPackage({{"data\\locked.bin", "new"}}));
    // A directory in the way of the file: a local problem, not the package's.
    ASSERT_TRUE(std::filesystem::create_directory("data"));
    ASSERT_TRUE(std::filesystem::create_directory("data/locked.bin"));

    EXPECT_EQ(RunToEnd(), 7);
    EXPECT_EQ(boxes_.Texts(), std::vector<std::string>{"[补丁解压失败]"});
    EXPECT_TRUE(Exists("00001.DAT"));
    EXPECT_EQ(ReadFile(kClientVersionFile), "00001");

    // Once the obstacle is gone the kept package is applied without a transfer.
    std::filesystem::remove("data/locked.bin");
    CMyFun::ResetForNewRun();
    server_.ClearRequests();
    EXPECT_EQ(RunToEnd(), 8);
    EXPECT_EQ(ReadFile("data/locked.bin"), "new");
    EXPECT_EQ(ReadFile(kClientVersionFile), "00002");
}

TEST_F(PatchLoopTest, WithoutDecompressorThePackageFailsCleanly) {
    g_pfnUncompress = nullptr;
    WriteFile(kClientVersionFile, "00001");
    ServeVersionList(VersionList("1.1.6.0", 2));
    ServePackages(1, 2);
    EXPECT_EQ(RunToEnd(), 7);
    EXPECT_EQ(boxes_.Texts(), std::vector<std::string>{"[补丁解压失败]"});
    EXPECT_TRUE(Exists("00001.DAT"));
}

TEST(PatchStatusTextTest, TwoKindsOfColon) {
    EXPECT_EQ(PatchStatusText(6, 7), "当前版本: 6 /最新版本： 7");
}

}  // namespace
}  // namespace launcher::test
