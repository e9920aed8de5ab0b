// The main dialog with the real engine against a version host on 127.0.0.1:
// the launch gate, the game's start after the windows closed, a second
// launcher, the link buttons, the engine's own close and a close during a
// download. Each test runs in a fresh temporary installation directory.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QWindow>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>

#include "engine/deployment.h"
#include "engine/globals.h"
#include "engine/launcher_version.h"
#include "engine/my_fun.h"
#include "platform/single_instance.h"
#include "platform/stop_flag.h"
#include "qt/dialogs/back_dialog.h"
#include "qt/dialogs/explorer.h"
#include "qt/dialogs/game_set.h"
#include "qt/dialogs/owner_adapter.h"
#include "tests/support/fakes.h"
#include "tests/support/test_http_server.h"
#include "window/repair_request.h"
#include "window/status_lines.h"
#include "window/worker_thread.h"

namespace launcher::test {
namespace {

long long NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

bool WaitFor(const std::function<bool()>& condition, int ms = 30000) {
    return QTest::qWaitFor(condition, ms);
}

QAbstractButton* Button(CForeDialog* dialog, int id) {
    return static_cast<QAbstractButton*>(dialog->GetDlgItem(id));
}

struct Box {
    QString title;
    QString text;
};

// Runs `action`, which opens a modal box, and reads and closes that box.
Box AnswerBox(const std::function<void()>& action) {
    Box seen;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            seen = {box->windowTitle(), box->text()};
            box->button(QMessageBox::Ok)->click();
        }
    });
    poll.start(10);
    action();
    return seen;
}

class LauncherWindowTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        CMyFun::ResetForNewRun();
        g_bFullScreen = 0;
        g_strResolution = "1024X768";
        settings_.deployment.versionHost = server_.Origin();
        settings_.deployment.downloadHost = server_.Origin();
        settings_.deployment.newsHost = server_.Origin();
        static int count = 0;
        settings_.instanceName =
            "Brevane-test-" + std::to_string(::getpid()) + "-" + std::to_string(++count);
    }
    void TearDown() override {
        // A worker left behind would run on into the next test's globals.
        EXPECT_TRUE(WaitFor([] { return ui::WorkerThread::DetachedRunning() == 0; }, 10000));
        CMyFun::m_pEnvironment = nullptr;
        TempDirTest::TearDown();
    }

    // The game stand-in records when it started and the one argument it got.
    void WriteStandIn() {
        WriteFile("Corvatheon2.exe",
                  // `count` first: the test reads it once `started` and `params` exist.
                  "#!/bin/sh\necho $# > count.tmp && mv count.tmp count\n"
                  "date +%s%N > started.tmp && mv started.tmp started\n"
                  "printf '%s' \"$1\" > params.tmp && mv params.tmp params\n");
        std::filesystem::permissions("Corvatheon2.exe", std::filesystem::perms::owner_all);
    }
    // A client at patch `client`, a server announcing our own launcher and
    // patch `latest`.
    void Client(int client, int latest) {
        char digits[8];
        std::snprintf(digits, sizeof digits, "%05d", client);
        WriteFile("PRESENTVERSION.DAT", digits);
        std::snprintf(digits, sizeof digits, "%05d", latest);
        server_.ServeFile(std::string(kVersionPath) + "SERVERVER.INI",
                          "a-launcher=" + JoinFileVersions(*ProgramVersionBlock()) +
                              "\r\nb-patch=" + digits + "\r\n");
    }

    TestHttpServer server_;
    ForeDialogSettings settings_;
};

TEST_F(LauncherWindowTest, StartIsRefusedWhileTheGateIsClosed) {
    WriteStandIn();
    const struct {
        int gate;
        const char* text;
    } rows[] = {
        {1, "版本不是最新，请更新后再进入游戏"},
        {2, "更新失败,请检测确认游戏服务器可以登录，且是最新版本"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.gate);
        CForeDialog dialog(nullptr, settings_);  // not initialised: no worker
        dialog.show();
        g_nLaunchBlock = row.gate;
        const Box box = AnswerBox([&] { Button(&dialog, kIdStart)->click(); });
        EXPECT_EQ(box.text.toStdString(), row.text);
        EXPECT_EQ(box.title, QCoreApplication::applicationName());
        EXPECT_TRUE(dialog.isVisible());
        // And again later: still refused, the launcher goes on.
        EXPECT_EQ(AnswerBox([&] { Button(&dialog, kIdStart)->click(); }).text.toStdString(),
                  row.text);
        EXPECT_TRUE(dialog.isVisible());
    }
    QTest::qWait(300);
    EXPECT_FALSE(Exists("params"));
}

TEST_F(LauncherWindowTest, SettingsDialogIsOwnedByTheLauncherWindow) {
    CForeDialog dialog(nullptr, settings_);  // not initialised: no worker
    dialog.show();
    QWindow* owner = nullptr;
    QTimer::singleShot(0, [&] {
        QWidget* settings = QApplication::activeModalWidget();
        ASSERT_NE(settings, nullptr);
        owner = settings->windowHandle()->transientParent();
        settings->close();
    });
    Button(&dialog, kIdSettings)->click();
    EXPECT_EQ(owner, dialog.windowHandle());
}

TEST_F(LauncherWindowTest, UpToDateClientStartsTheGameAfterTheWindowsClosed) {
    WriteStandIn();
    Client(7, 7);
    g_bFullScreen = 1;
    g_strResolution = "1600X900";

    CBackDialog back(143, settings_);
    long long closedAt = 0;
    QObject::connect(&back, &QDialog::finished, [&] { closedAt = NowNs(); });
    back.show();
    CForeDialog* dialog = back.MainDialog();
    ASSERT_TRUE(dialog->WorkerStarted());
    EXPECT_EQ(dialog->NewsUrl().toStdString(), server_.Origin() + kNewsPath);
    // The server has no news page: our own page says so, not the engine's.
    auto* news = static_cast<ui::CExplorer1*>(dialog->GetDlgItem(kIdBrowser));
    EXPECT_TRUE(WaitFor([&] { return news->PageTitle() == ui::kNewsErrorTitle; }));

    ASSERT_TRUE(WaitFor([&] { return dialog->WorkerFinished(); }));
    EXPECT_TRUE(Button(dialog, kIdStart)->isVisible());
    EXPECT_EQ(g_nLaunchBlock, 0);
    EXPECT_FALSE(Button(dialog, kIdStartIdle)->isVisible());
    EXPECT_TRUE(dialog->GetDlgItem(kIdStaticDone)->isVisible());
    EXPECT_FALSE(dialog->GetDlgItem(kIdStaticUpdating)->isVisible());

    QTest::mouseClick(Button(dialog, kIdStart), Qt::LeftButton);
    EXPECT_FALSE(back.isVisible());
    EXPECT_FALSE(dialog->isVisible());
    ASSERT_NE(closedAt, 0);
    ASSERT_TRUE(WaitFor([&] { return Exists("params") && Exists("started"); }, 10000));
    EXPECT_EQ(ReadFile("params"), "/100/0/1/1600/900\n");
    EXPECT_EQ(ReadFile("count"), "1\n") << "the parameters are one argument";
    EXPECT_GE(std::stoll(ReadFile("started")), closedAt)
        << "the game started before the windows closed";
}

TEST_F(LauncherWindowTest, RepairChosenInTheSettingsRunsTheEngineOnceMore) {
    Client(7, 7);
    CBackDialog back(143, settings_);
    back.show();
    CForeDialog* dialog = back.MainDialog();
    ASSERT_TRUE(WaitFor([&] { return dialog->WorkerFinished(); }));
    const std::string list = std::string(kVersionPath) + "SERVERVER.INI";
    const std::size_t listsBefore = server_.RequestsFor(list).size();

    QTimer::singleShot(0, [] {
        auto* settings = static_cast<CGameSet*>(QApplication::activeModalWidget());
        ASSERT_NE(settings, nullptr);
        static_cast<QAbstractButton*>(settings->GetDlgItem(ui::kIdRepair))->click();
    });
    Button(dialog, kIdSettings)->click();
    auto* reason = static_cast<QLabel*>(dialog->GetDlgItem(ui::kIdStaticReason));
    ASSERT_TRUE(WaitFor([&] { return dialog->WorkerFinished() && reason->isVisible(); }));
    // This server publishes no index: the run says so, and the gate is open again.
    EXPECT_NE(reason->text().toStdString().find("no file index"), std::string::npos);
    EXPECT_EQ(server_.RequestsFor(list).size(), listsBefore + 1);
    EXPECT_EQ(g_nLaunchBlock, 0) << reason->text().toStdString();
    EXPECT_TRUE(Button(dialog, kIdStart)->isVisible());
}

TEST_F(LauncherWindowTest, SecondLauncherClosesAtOnceAndStartsNoWorker) {
    SingleInstanceLock first(settings_.instanceName);
    ASSERT_TRUE(first.Acquired());
    {
        CBackDialog back(143, settings_);
        QTimer::singleShot(10000, &back, [&] { back.done(99); });  // guard only
        EXPECT_NE(back.exec(), 99);
        EXPECT_TRUE(back.MainDialog()->IsSecondInstance());
        EXPECT_FALSE(back.MainDialog()->WorkerStarted());
    }
    EXPECT_TRUE(server_.Requests().empty());
    EXPECT_FALSE(Exists("PRESENTVERSION.DAT"));
    // The first one was not disturbed: it still holds the name.
    SingleInstanceLock third(settings_.instanceName);
    EXPECT_FALSE(third.Acquired());
}

class UrlRecorder : public QObject {
    Q_OBJECT
public:
    std::vector<std::string> urls;
public slots:
    void Open(const QUrl& url) { urls.push_back(url.toString().toStdString()); }
};

TEST_F(LauncherWindowTest, LinkButtonsOpenTheirPages) {
    settings_.deployment.accountHost = "http://account.test";
    settings_.deployment.gameSiteHost = "http://game.test";
    settings_.deployment.paymentHost = "https://pay.test";
    settings_.deployment.communityHost = "http://community.test:8080";
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler("http", &recorder, "Open");
    QDesktopServices::setUrlHandler("https", &recorder, "Open");
    CForeDialog dialog(nullptr, settings_);
    const struct {
        int id;
        const char* url;
    } rows[] = {
        {kIdRegister, "http://account.test/login"},
        {kIdHome, "http://game.test/"},
        {kIdPay, "https://pay.test/"},
        {kIdForum, "http://community.test:8080/forum-367-1.html"},
        {kIdService, "http://game.test/index.php?m=content&c=index&a=lists&catid=239"},
    };
    for (const auto& row : rows) {
        recorder.urls.clear();
        Button(&dialog, row.id)->click();
        EXPECT_EQ(recorder.urls, std::vector<std::string>{row.url}) << row.id;
    }
    QDesktopServices::unsetUrlHandler("http");
    QDesktopServices::unsetUrlHandler("https");
}

TEST_F(LauncherWindowTest, EngineCloseFromTheWorkerEndsTheModalRun) {
    Client(3, 3);
    CBackDialog back(143, settings_);
    int result = -1;
    QTimer::singleShot(0, &back, [&] {
        CForeDialog* dialog = back.MainDialog();
        ASSERT_TRUE(WaitFor([&] { return dialog->WorkerFinished(); }));
        // What the engine does after it fetched a replacement launcher.
        std::shared_ptr<ui::QtOwnerAdapter> owner = dialog->Owner();
        auto cancel = std::async(std::launch::async, [owner] { owner->OnCancel(); });
        EXPECT_TRUE(WaitFor(
            [&] { return cancel.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
        EXPECT_TRUE(owner->StopFlagPtr()->IsStopped());
    });
    QTimer::singleShot(30000, &back, [&] { back.done(99); });  // guard only
    result = back.exec();
    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_FALSE(back.MainDialog()->isVisible());
}

TEST_F(LauncherWindowTest, ClosingDuringADownloadDoesNotWaitForIt) {
    Client(7, 8);
    std::atomic<bool> sending{false};
    server_.Handle(std::string(kPatchPath) + "00007.DAT",
                   [&](const HttpRequestRecord&, RawConnection& c) {
                       if (!c.Send("HTTP/1.1 200 OK\r\nContent-Length: 100000000\r\n\r\n")) return;
                       const std::string block(1024, 'x');
                       while (c.Send(block) && c.Pause(5)) sending = true;
                   });
    {
        CBackDialog back(143, settings_);
        back.show();
        CForeDialog* dialog = back.MainDialog();
        ASSERT_TRUE(
            WaitFor([&] { return sending && !dialog->GetDlgItem(kIdStaticNote)->isHidden(); }));
        Button(dialog, kIdExit)->click();
        EXPECT_FALSE(back.isVisible());
        EXPECT_TRUE(dialog->Owner()->StopFlagPtr()->IsStopped());
    }  // the dialog goes while the worker may still be in its transfer
    // Nothing else to check here: TearDown waits for a left worker to end.
}

}  // namespace
}  // namespace launcher::test

#include "launcher_window_test.moc"
