// OnDownloadProgress: the amount texts, the 120 ms refresh rule on the
// injected tick, the placing of the total after the received amount, and the
// per-file bar.
#include <gtest/gtest.h>

#include <QLabel>
#include <vector>

#include "tests/support/fakes.h"
#include "ui/fore_dialog.h"
#include "ui/progress_ctrl.h"

namespace launcher::test {
namespace {

TEST(ProgressTexts, AmountsAndTotals) {
    const struct {
        std::uint32_t bytes;
        const char* received;
        const char* total;
    } rows[] = {
        {0, "0 ", " / 0"},
        {1023, "1023 ", " / 1023"},
        {1024, "1 kb ", " / 1 kb"},
        {2047, "1 kb ", " / 1 kb"},
        {2048, "2 kb ", " / 2 kb"},
        {2500, "2 kb ", " / 2 kb"},
        {5000000, "4882 kb ", " / 4882 kb"},
        {0xFFFFFFFFu, "4194303 kb ", " / 4194303 kb"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(ReceivedText(row.bytes), row.received) << row.bytes;
        EXPECT_EQ(TotalText(row.bytes), row.total) << row.bytes;
    }
}

// One message and what the dialog shows afterwards.
struct Step {
    const char* what;
    std::uint32_t tick;
    std::uint32_t present;
    std::uint32_t announced;
    const char* received;  // text of static 1014
    const char* total;     // text of static 1017
    int totalOffset;       // x of 1017 minus x of 1014
};

class ProgressDialogTest : public ::testing::Test {
protected:
    void Run(const std::vector<Step>& steps, std::uint32_t startTick = 0) {
        clock_.SetTick(startTick);
        ForeDialogSettings settings;
        settings.tick = &clock_;
        CForeDialog dialog(nullptr, settings);
        auto* received = static_cast<QLabel*>(dialog.GetDlgItem(kIdStaticReceived));
        auto* total = static_cast<QLabel*>(dialog.GetDlgItem(kIdStaticTotal));
        auto* bar = static_cast<ui::CProgressCtrl*>(dialog.GetDlgItem(kIdProgressFile));
        QWidget* note = dialog.GetDlgItem(kIdStaticNote);
        ASSERT_TRUE(note->isHidden());
        const int left = received->x();
        bar->SetRange32(0, 0xFFFFFFFFu);
        for (const Step& step : steps) {
            SCOPED_TRACE(step.what);
            clock_.SetTick(step.tick);
            EXPECT_EQ(dialog.OnDownloadProgress(step.present, step.announced), 0);
            EXPECT_EQ(received->text().toStdString(), step.received);
            EXPECT_EQ(total->text().toStdString(), step.total);
            EXPECT_EQ(total->x() - left, step.totalOffset);
            EXPECT_EQ(total->y(), received->y());
            // The bar follows every message.
            EXPECT_EQ(bar->Pos(), step.present);
            EXPECT_FALSE(note->isHidden());
        }
    }
    FakeClock clock_;
};

TEST_F(ProgressDialogTest, RefreshRuleAndPlacing) {
    // 1017 starts at its template place, 84 pixels right of 1014.
    Run({
        {"first message of a file refreshes", 1000, 0, 2500, "0 ", " / 2 kb", 12},
        {"120 ms later only the bar moves", 1120, 1024, 2500, "0 ", " / 2 kb", 12},
        {"121 ms after the refresh the texts follow", 1121, 2048, 2500, "2 kb ", " / 2 kb", 30},
        {"L == T always refreshes, 1 ms later", 1122, 2500, 2500, "2 kb ", " / 2 kb", 30},
        {"next file, same size: 1017 keeps its text", 2000, 0, 2500, "0 ", " / 2 kb", 12},
        {"999 bytes", 3000, 999, 5000000, "999 ", " / 4882 kb", 24},
        {"1000 moves 1017 six pixels right", 3200, 1000, 5000000, "1000 ", " / 4882 kb", 30},
        {"1023", 3400, 1023, 5000000, "1023 ", " / 4882 kb", 30},
        {"1023 -> 1 kb keeps the place", 3600, 1024, 5000000, "1 kb ", " / 4882 kb", 30},
    });
}

TEST_F(ProgressDialogTest, TickWrap) {
    Run(
        {
            {"refresh just before the wrap", 0xFFFFFFF0u, 1, 10000, "1 ", " / 9 kb", 12},
            {"112 ms across the wrap: no refresh", 0x60u, 20, 10000, "1 ", " / 9 kb", 12},
            {"128 ms across the wrap: refresh", 0x70u, 4096, 10000, "4 kb ", " / 9 kb", 30},
        },
        0xFFFFFF00u);
}

TEST_F(ProgressDialogTest, FirstMessageWithNothingAnnounced) {
    // T = 0 equals the remembered total: 1017 stays empty.
    Run({{"L == T == 0", 5, 0, 0, "0 ", "", 12}});
}

TEST_F(ProgressDialogTest, VeryFirstMessageRefreshesWhenTheSystemRanLongEnough) {
    Run({{"tick 121, last refresh 0", 121, 1, 100, "1 ", " / 100", 12}});
    Run({{"tick 120: too early", 120, 1, 100, "", "", 84}});
}

TEST(EngineMessages, BarsTakeTheFetchersRangeColoursAndPositions) {
    CForeDialog dialog(nullptr);
    IEngineOwner& owner = dialog;
    auto* file = static_cast<ui::CProgressCtrl*>(dialog.GetDlgItem(kIdProgressFile));
    auto* total = static_cast<ui::CProgressCtrl*>(dialog.GetDlgItem(kIdProgressTotal));
    // The start of an attempt, as the fetcher sends it.
    owner.SendMessageTo(kIdProgressFile, kPbmSetPos, 0, 0);
    owner.SendMessageTo(kIdProgressTotal, kPbmSetPos, 0, 0);
    owner.SendMessageTo(kIdProgressFile, kPbmSetBkColor, 0, Rgb(0, 0, 0));
    owner.SendMessageTo(kIdProgressFile, kPbmSetBarColor, 0, Rgb(32, 164, 255));
    owner.SendMessageTo(kIdProgressTotal, kPbmSetBkColor, 0, Rgb(0, 0, 0));
    owner.SendMessageTo(kIdProgressTotal, kPbmSetBarColor, 0, Rgb(60, 255, 0));
    owner.SendMessageTo(kIdProgressFile, kPbmSetRange32, 0, 3000000000u);
    owner.SendMessageTo(kDialog, kWmDownloadProgress, 1500000000u, 3000000000u);
    owner.SendMessageTo(kIdProgressTotal, kPbmSetPos, 25, 0);

    EXPECT_EQ(file->BarColor(), QColor(32, 164, 255));
    EXPECT_EQ(total->BarColor(), QColor(60, 255, 0));
    EXPECT_EQ(file->BkColor(), QColor(0, 0, 0));
    EXPECT_EQ(file->High(), 3000000000u);
    EXPECT_EQ(file->Pos(), 1500000000u);
    EXPECT_EQ(file->FilledWidth(), file->width() / 2);
    EXPECT_EQ(total->High(), 100u) << "the total bar keeps its default range";
    EXPECT_EQ(total->FilledWidth(), total->width() / 4);

    owner.SetControlText(kIdStaticVersion, "当前版本: 6 /最新版本： 7");
    owner.ShowControl(kIdStaticVersion, kSwShowNormal);
    owner.ShowControl(kIdStartIdle, kSwHide);
    EXPECT_EQ(static_cast<QLabel*>(dialog.GetDlgItem(kIdStaticVersion))->text().toStdString(),
              "当前版本: 6 /最新版本： 7");
    EXPECT_FALSE(dialog.GetDlgItem(kIdStaticVersion)->isHidden());
    EXPECT_TRUE(dialog.GetDlgItem(kIdStartIdle)->isHidden());
}

}  // namespace
}  // namespace launcher::test
