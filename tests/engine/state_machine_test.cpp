// The engine's courses from start to end, counting Process calls, against a
// real version host on 127.0.0.1.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/version_records.h"
#include "platform/files.h"
#include "tests/engine/engine_fixture.h"

namespace launcher::test {
namespace {

const std::vector<OwnerCall> kFinishedLook = {
    Show(kIdStartIdle, kSwHide), Show(kIdStart, kSwShowNormal),
    Show(kIdStaticDone, kSwShowNormal), Show(kIdStaticUpdating, kSwHide)};

class StateMachineTest : public EngineTest {};

TEST_F(StateMachineTest, ClientAlreadyCurrentWithAndWithoutStartupCount) {
    for (bool decompressorLoaded : {false, true}) {
        SCOPED_TRACE(decompressorLoaded ? "start-up count" : "no start-up count");
        CMyFun::ResetForNewRun();
        owner_.Clear();
        WriteFile(kClientVersionFile, "00003");
        ServeVersionList(VersionList("1.1.6.0", 3));
        if (decompressorLoaded) CMyFun::m_nState = kStateStartupCount;

        EXPECT_EQ(RunToEnd(), decompressorLoaded ? 95 : 5);
        EXPECT_EQ(g_nLaunchBlock, 0);
        EXPECT_EQ(CMyFun::m_nState, kStateFinished);
        EXPECT_EQ(owner_.ShowsAndTexts(), kFinishedLook);
        EXPECT_TRUE(boxes_.Boxes().empty());
        EXPECT_FALSE(Exists(kServerVersionList));
    }
}

TEST_F(StateMachineTest, TheGateOpensBeforeTheStartButtonIsShown) {
    WriteFile(kClientVersionFile, "00001");
    ServeVersionList(VersionList("1.1.6.0", 1));
    for (int i = 0; i < 4; ++i) ASSERT_EQ(CMyFun::Process(&owner_), 1);
    EXPECT_EQ(g_nLaunchBlock, 0);
    EXPECT_TRUE(owner_.ShowsAndTexts().empty());
    EXPECT_EQ(CMyFun::Process(&owner_), 0);
    EXPECT_EQ(owner_.ShowsAndTexts(), kFinishedLook);
}

struct FailureCourse {
    const char* name;
    const char* launcherVersion;
    const char* clientFile;      // nullptr: none
    const char* list;            // nullptr: the list is not served
    bool serveLauncher;
    int calls;
    std::vector<RecordingMessageBoxes::Box> boxes;
    int gate;
    float selfUpdate;
    std::vector<OwnerCall> owner;  // shows, texts and the cancel
    const char* reason;            // part of the failure reason
};

TEST_F(StateMachineTest, CoursesThatEndTheRun) {
    const std::string longList = "a=1.1.6.0\nb=00004\nc=" + std::string(100 * 1024, 'c');
    const std::string tooLongList = "a=1.1.6.0\nb=00004\nc=" + std::string(1024 * 1024, 'c');
    const FailureCourse courses[] = {
        {"version list cannot be fetched", "1.1.6.0", "00001", nullptr, false, 3, {}, 2, 0.0f,
         ListFailedLook(), "could not be fetched"},
        {"version list without entries", "1.1.6.0", "00001", "\r\n\r\n", false, 3,
         {{"Launcher", "没有版本信息"}, {kEngineCaption, "[Error::获取服务器版本信息出错!]"}},
         2, 0.0f, {}, "holds no version"},
        {"client above the latest patch", "1.1.6.0", "00009", "a=1.1.6.0\nb=00004\n", false, 4, {}, 2, 0.0f,
         {}, "above the latest"},
        {"replacement launcher cannot be fetched", "1.1.6.0", "00001", "a=1.1.7.0\nb=00004\n", false, 3, {}, 2,
         0.0f, {}, "the replacement launcher could not be fetched"},
        {"replacement launcher downloaded", "1.1.6.0", "00001", "a=1.1.7.0\nb=00004\n", true, 3, {}, 1, 2.0f,
         {Cancel()}, "replacement launcher"},
        {"versions differing only in case are equal", "1.1.6.A", "00004", "a=1.1.6.a\nb=00004\n", false, 5, {},
         0, 0.0f, kFinishedLook, ""},
        {"a FileVersion longer than 7 bytes never matches", "1.1.16.0", "00004", "a=1.1.16.0\nb=00004\n", true,
         3, {}, 1, 2.0f, {Cancel()}, "replacement launcher"},
        {"a list over 64 KiB is read", "1.1.6.0", "00004", longList.c_str(), false, 5, {}, 0, 0.0f,
         kFinishedLook, ""},
        {"a list over 1 MiB is too long", "1.1.6.0", "00001", tooLongList.c_str(), false, 3, {}, 2,
         0.0f, ListFailedLook(), "is too long"},
    };
    for (const auto& c : courses) {
        SCOPED_TRACE(c.name);
        CMyFun::ResetForNewRun();
        g_strLauncherVersion = c.launcherVersion;
        owner_.Clear();
        RemoveFile(kClientVersionFile);
        RemoveFile(kReplacementLauncher);
        if (c.clientFile) WriteFile(kClientVersionFile, c.clientFile);
        server_.Remove("/corvatheon_version/corvatheon2_online/SERVERVER.INI");
        server_.Remove("/corvatheon_version/corvatheon2_online/Launcher.exe_");
        if (c.list) ServeVersionList(c.list);
        const std::string launcherBytes = PatternBytes(3000, 7);
        if (c.serveLauncher)
            server_.ServeFile("/corvatheon_version/corvatheon2_online/Launcher.exe_", launcherBytes);
        const auto boxesBefore = boxes_.Boxes().size();

        EXPECT_EQ(RunToEnd(), c.calls);
        auto boxes = boxes_.Boxes();
        EXPECT_EQ(decltype(boxes)(boxes.begin() + static_cast<long>(boxesBefore), boxes.end()),
                  c.boxes);
        EXPECT_EQ(g_nLaunchBlock, c.gate);
        EXPECT_EQ(g_fSelfUpdate, c.selfUpdate);
        EXPECT_EQ(owner_.ShowsAndTexts(), c.owner);
        EXPECT_NE(FailureReason().find(c.reason), std::string::npos) << FailureReason();
        if (c.serveLauncher) {
            EXPECT_EQ(ReadFile(kReplacementLauncher), launcherBytes);
        }
        EXPECT_FALSE(Exists(kServerVersionList));
    }
}

TEST_F(StateMachineTest, UnreadableClientVersionEndsOnTheSecondCall) {
    ASSERT_TRUE(std::filesystem::create_directory(kClientVersionFile));
    EXPECT_EQ(RunToEnd(), 2);
    EXPECT_EQ(boxes_.Boxes(),
              (std::vector<RecordingMessageBoxes::Box>{{kEngineCaption, "[Error::GetClientVersion()]"}}));
    EXPECT_EQ(g_nLaunchBlock, 2);
    EXPECT_NE(FailureReason().find("not a regular file (a directory)"), std::string::npos)
        << FailureReason();
    EXPECT_TRUE(server_.Requests().empty());
}

TEST_F(StateMachineTest, AListThatCannotBeWrittenBlamesTheInstallationDirectory) {
    // Refused as a read-only directory refuses it, even to root.
    WriteFile(kClientVersionFile, "00001");
    ASSERT_TRUE(std::filesystem::create_directory(kServerVersionList));
    EXPECT_EQ(RunToEnd(), 3);
    EXPECT_EQ(owner_.ShowsAndTexts(), ListFailedLook());
    EXPECT_EQ(FailureReason(), "the version list could not be written in the installation "
                               "directory (SERVERVER.INI: Is a directory)");
}

TEST_F(StateMachineTest, ARunWithoutItsEnvironmentEndsCleanly) {
    CMyFun::m_pEnvironment = nullptr;
    EXPECT_EQ(RunToEnd(), 1);
    EXPECT_EQ(g_nLaunchBlock, 2);
}

TEST_F(StateMachineTest, ALeftoverVersionListIsReplacedNotContinued) {
    // An older, longer list from an earlier run would otherwise look complete
    // or too long.
    WriteFile(kServerVersionList, "a=1.1.6.0\nb=00001\nzzzzzzzzzzzzzzzzzzzzzzzzzzzzzz\n");
    WriteFile(kClientVersionFile, "00002");
    ServeVersionList(VersionList("1.1.6.0", 2));
    EXPECT_EQ(RunToEnd(), 5);
    EXPECT_EQ(g_nLaunchBlock, 0);
    EXPECT_EQ(CMyFun::m_nLatestVersion, 2);
}

TEST_F(StateMachineTest, TheListIsFetchedWithFiveAttemptsAtMost) {
    WriteFile(kClientVersionFile, "00001");
    server_.Handle("/corvatheon_version/corvatheon2_online/SERVERVER.INI",
                   [](const HttpRequestRecord&, RawConnection& c) {
                       c.Send("HTTP/1.1 500 Oops\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
                   });
    EXPECT_EQ(RunToEnd(), 3);
    EXPECT_EQ(server_.RequestsFor("/corvatheon_version/corvatheon2_online/SERVERVER.INI").size(), 5u);
    EXPECT_EQ(server_.Requests().front().Header("user-agent"), "lpload");
}

TEST_F(StateMachineTest, AStoppedRunTouchesNothing) {
    WriteFile(kClientVersionFile, "00001");
    ServeVersionList(VersionList("1.1.6.0", 1));
    environment_.stop->RequestStop();
    EXPECT_EQ(UpdateThreadProc(&owner_), 0u);
    EXPECT_TRUE(owner_.Calls().empty());
    EXPECT_TRUE(server_.Requests().empty());
    EXPECT_EQ(g_nLaunchBlock, 1);
}

TEST_F(StateMachineTest, TheWorkerRunsTheWholeCourseOnItsOwnThread) {
    WriteFile(kClientVersionFile, "00005");
    ServeVersionList(VersionList("1.1.6.0", 5));
    std::thread worker([this] { UpdateThreadProc(&owner_); });
    worker.join();
    EXPECT_EQ(g_nLaunchBlock, 0);
    EXPECT_EQ(owner_.ShowsAndTexts(), kFinishedLook);
}

}  // namespace
}  // namespace launcher::test
