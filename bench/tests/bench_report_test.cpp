// The window's benchmark mode: what it makes of the progress messages it
// handles, its report, and that it writes the report and closes once the
// worker has ended.
#include "qt/dialogs/bench_report.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdlib>

#include "tests/support/fakes.h"

namespace launcher::ui {
namespace {

TEST(DownloadLog, OneRecordPerFile) {
    DownloadLog log;
    log.OnProgress(0, 35, 0.0);
    log.OnProgress(35, 35, 0.1);
    // A new length is a new file.
    log.OnProgress(0, 4096, 1.0);
    log.OnProgress(1024, 4096, 1.5);
    log.OnProgress(4096, 4096, 3.0);
    ASSERT_EQ(log.Files().size(), 2u);
    const auto& list = log.Files()[0];
    EXPECT_EQ(list.announced, 35u);
    EXPECT_TRUE(list.completed);
    EXPECT_EQ(list.handled, 2u);
    const auto& package = log.Files()[1];
    EXPECT_EQ(package.Bytes(), 4096u);
    EXPECT_EQ(package.handled, 3u);
    EXPECT_TRUE(package.completed);
    EXPECT_EQ(package.backwards, 0u);
    EXPECT_DOUBLE_EQ(package.Rate(), 4096 / 1048576.0 / 2.0);
    EXPECT_FALSE(log.Downloading());
}

TEST(DownloadLog, SameLengthAfterACompletedFileIsTheNextFile) {
    DownloadLog log;
    log.OnProgress(0, 100, 0.0);
    log.OnProgress(100, 100, 1.0);
    log.OnProgress(0, 100, 2.0);
    EXPECT_TRUE(log.Downloading());
    ASSERT_EQ(log.Files().size(), 2u);
    EXPECT_FALSE(log.Files()[1].completed);
}

// A coalesced run starts where the window first heard of the file; a resumed
// file counts only what arrived in this run.
TEST(DownloadLog, CountsFromTheFirstHandledMessage) {
    DownloadLog log;
    log.OnProgress(3000, 10000, 5.0);
    log.OnProgress(10000, 10000, 6.0);
    EXPECT_EQ(log.Files()[0].Bytes(), 7000u);
    EXPECT_DOUBLE_EQ(log.Files()[0].Rate(), 7000 / 1048576.0);
}

TEST(DownloadLog, MessagesOutOfOrderAreCounted) {
    DownloadLog log;
    log.OnProgress(0, 10000, 0.0);
    log.OnProgress(5000, 10000, 0.1);
    log.OnProgress(4000, 10000, 0.2);
    log.OnProgress(10000, 10000, 0.3);
    ASSERT_EQ(log.Files().size(), 1u);
    EXPECT_EQ(log.Files()[0].backwards, 1u);
    EXPECT_EQ(log.Files()[0].last, 10000u);
    EXPECT_TRUE(log.Files()[0].completed);
}

TEST(DownloadLog, IncompleteFileHasNoRateWithoutTime) {
    DownloadLog log;
    log.OnProgress(0, 10, 1.0);
    EXPECT_TRUE(log.Downloading());
    EXPECT_FALSE(log.Files()[0].completed);
    EXPECT_EQ(log.Files()[0].Rate(), 0.0);
}

TEST(StallMeter, LongestGapOverallAndWhileDownloading) {
    StallMeter meter;
    EXPECT_EQ(meter.LongestGap(), 0.0);
    meter.Tick(1.000, false);
    meter.Tick(1.005, false);
    meter.Tick(1.090, false);  // 85 ms, idle
    meter.Tick(1.095, true);
    meter.Tick(1.125, true);  // 30 ms, downloading
    meter.Tick(1.130, true);
    EXPECT_EQ(meter.Ticks(), 6u);
    EXPECT_NEAR(meter.LongestGap(), 0.085, 1e-9);
    EXPECT_NEAR(meter.LongestGapEnd(), 1.090, 1e-9);
    EXPECT_NEAR(meter.LongestDownloadGap(), 0.030, 1e-9);
}

TEST(FormatBenchReport, Lines) {
    DownloadLog log;
    log.OnProgress(0, 35, 0.5);
    log.OnProgress(35, 35, 0.5);
    log.OnProgress(0, 2097152, 1.0);
    log.OnProgress(2097152, 2097152, 2.0);
    StallMeter meter;
    meter.Tick(0.0, false);
    meter.Tick(0.0123, false);
    EXPECT_EQ(FormatBenchReport(log, meter, 5, true),
              "result up-to-date\n"
              "event-loop ticks=2 interval-ms=5 longest-gap-ms=12.3 longest-gap-end=0.012 "
              "longest-download-gap-ms=0.0\n"
              "file announced=35 bytes=35 start=0.500 seconds=0.000 mib-per-s=0.0 handled=2 "
              "completed=yes backwards=0\n"
              "file announced=2097152 bytes=2097152 start=1.000 seconds=1.000 mib-per-s=2.0 "
              "handled=2 completed=yes backwards=0\n");
    EXPECT_EQ(FormatBenchReport(DownloadLog(), StallMeter(), 5, false).substr(0, 14),
              "result failed\n");
}

class BenchReportTest : public test::TempDirTest {
protected:
    void TearDown() override {
        qunsetenv(kBenchReportVariable);
        TempDirTest::TearDown();
    }
};

TEST_F(BenchReportTest, NothingWithoutTheVariable) {
    qunsetenv(kBenchReportVariable);
    EXPECT_EQ(BenchReport::FromEnvironment({}), nullptr);
    qputenv(kBenchReportVariable, "");
    EXPECT_EQ(BenchReport::FromEnvironment({}), nullptr);
}

// Runs the event loop until the report is written (bounded), as the window does.
TEST_F(BenchReportTest, WritesOnceTheWorkerEndedAndClosesOnce) {
    const std::string path = Dir() + "/report";
    qputenv(kBenchReportVariable, QByteArray::fromStdString(path));
    bool ended = false;
    int closes = 0;
    auto report = BenchReport::FromEnvironment(
        {[&] { return ended; }, [] { return true; }, [&] { ++closes; }});
    ASSERT_NE(report, nullptr);
    report->OnProgress(0, 2048);
    report->OnProgress(2048, 2048);

    // Not while the worker runs.
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 50) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_FALSE(report->Written());
    EXPECT_FALSE(Exists(path));

    ended = true;
    for (int i = 0; i < 2000 && !report->Written(); ++i) {
        // The report's own 5 ms timer wakes the wait.
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    ASSERT_TRUE(report->Written());
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_EQ(closes, 1);
    const std::string text = ReadFile(path);
    EXPECT_EQ(text.rfind("result up-to-date\nevent-loop ticks=", 0), 0u) << text;
    EXPECT_NE(text.find("file announced=2048 bytes=2048 "), std::string::npos) << text;
    EXPECT_NE(text.find("completed=yes backwards=0\n"), std::string::npos) << text;
}

TEST_F(BenchReportTest, UnwritableReportStillCloses) {
    qputenv(kBenchReportVariable, QByteArray::fromStdString(Dir() + "/no/such/dir/report"));
    int closes = 0;
    auto report = BenchReport::FromEnvironment(
        {[] { return true; }, [] { return false; }, [&] { ++closes; }});
    ASSERT_NE(report, nullptr);
    for (int i = 0; i < 2000 && !report->Written(); ++i) {
        // The report's own 5 ms timer wakes the wait.
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    EXPECT_TRUE(report->Written());
    EXPECT_EQ(closes, 1);
}

}  // namespace
}  // namespace launcher::ui

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
