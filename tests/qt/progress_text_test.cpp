// The main dialog's side of the engine's messages: the amounts on its statics
// (the rule is tested in logic/), the bars' range, colours and positions.
#include <gtest/gtest.h>

#include <QLabel>

#include "qt/dialogs/fore_dialog.h"
#include "qt/dialogs/progress_ctrl.h"
#include "tests/support/fakes.h"

namespace launcher::test {
namespace {

TEST(ProgressDialog, ShowsTheAmountsOnItsStatics) {
    // The rule itself is the shared one; here its result on the real labels.
    FakeClock clock;
    ForeDialogSettings settings;
    settings.tick = &clock;
    CForeDialog dialog(nullptr, settings);
    auto* received = static_cast<QLabel*>(dialog.GetDlgItem(kIdStaticReceived));
    auto* total = static_cast<QLabel*>(dialog.GetDlgItem(kIdStaticTotal));
    auto* bar = static_cast<ui::CProgressCtrl*>(dialog.GetDlgItem(kIdProgressFile));
    QWidget* note = dialog.GetDlgItem(kIdStaticNote);
    ASSERT_TRUE(note->isHidden());
    bar->SetRange32(0, 0xFFFFFFFFu);
    const struct {
        std::uint32_t tick, present, announced;
        const char* received;
        const char* total;
        int totalOffset;  // x of 1017 minus x of 1014
    } steps[] = {
        {1000, 999, 5000000, "999 ", " / 4882 kb", 24},
        {1100, 1000, 5000000, "999 ", " / 4882 kb", 24},
        {1200, 1000, 5000000, "1000 ", " / 4882 kb", 30},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.tick);
        clock.SetTick(step.tick);
        EXPECT_EQ(dialog.OnDownloadProgress(step.present, step.announced), 0);
        EXPECT_EQ(received->text().toStdString(), step.received);
        EXPECT_EQ(total->text().toStdString(), step.total);
        EXPECT_EQ(total->x() - received->x(), step.totalOffset);
        EXPECT_EQ(total->y(), received->y());
        EXPECT_EQ(bar->Pos(), step.present);
        EXPECT_FALSE(note->isHidden());
    }
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
