// The display-settings dialog as a player uses it and the parameters the game
// then gets.
#include "qt/dialogs/game_set.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QPushButton>
#include <QTest>
#include <functional>
#include <vector>

#include "engine/game_command_line.h"

namespace launcher::test {
namespace {

// Moves the selection with the arrow keys, as a player scrolling through the
// closed box does; every item passed over is a selection change.
void ChooseWithKeys(QComboBox* combo, int index) {
    combo->setFocus();
    while (combo->currentIndex() != index)
        QTest::keyClick(combo, combo->currentIndex() < index ? Qt::Key_Down : Qt::Key_Up);
}

using Action = std::function<void(CGameSet&)>;
Action Windowed(int index) {
    return [index](CGameSet& d) { ChooseWithKeys(d.WindowedCombo(), index); };
}
Action FullScreen(int index) {
    return [index](CGameSet& d) { ChooseWithKeys(d.FullScreenCombo(), index); };
}
Action Ok() {
    return [](CGameSet& d) { static_cast<QPushButton*>(d.GetDlgItem(1))->click(); };
}
Action Cancel() {
    return [](CGameSet& d) { static_cast<QPushButton*>(d.GetDlgItem(2))->click(); };
}
// Typed characters and Enter, as into an edit field.
Action TypeFullScreen(const char* text) {
    return [text](CGameSet& d) {
        QTest::keyClicks(d.FullScreenCombo(), text);
        QTest::keyClick(d.FullScreenCombo(), Qt::Key_Return);
    };
}
Action Escape() {
    return [](CGameSet& d) { QTest::keyClick(&d, Qt::Key_Escape); };
}

// One opening of the dialog: the actions, then the dialog must have ended.
void Open(const std::vector<Action>& actions) {
    CGameSet dialog;
    dialog.show();
    // Every opening shows the same: windowed 1024X768, full screen empty.
    EXPECT_EQ(dialog.WindowedCombo()->currentText().toStdString(), "1024X768");
    EXPECT_EQ(dialog.FullScreenCombo()->currentText().toStdString(), "");
    for (const Action& action : actions) action(dialog);
    EXPECT_FALSE(dialog.isVisible());
}

TEST(GameSet, ResultingParameters) {
    // Indices into the list: 3 1280X800, 6 1366X768, 7 1440X900, 8 1600X900, 1 1152X864.
    const struct {
        const char* how;
        std::vector<std::vector<Action>> openings;
        int fullScreen;
        const char* resolution;
        const char* parameters;
    } rows[] = {
        {"never opened", {}, 0, "1024X768", "/100/0/2/1024/768\n"},
        {"windowed 1440X900, OK", {{Windowed(7), Ok()}}, 0, "1440X900", "/100/0/2/1440/900\n"},
        {"windowed 1440X900, Cancel",
         {{Windowed(7), Cancel()}},
         0,
         "1024X768",
         "/100/0/2/1024/768\n"},
        {"full screen 1280X800, OK", {{FullScreen(3), Ok()}}, 1, "1280X800", "/100/0/1/1280/800\n"},
        {"full screen 1280X800, Cancel",
         {{FullScreen(3), Cancel()}},
         1,
         "1024X768",
         "/100/0/1/1024/768\n"},
        {"full screen 1600X900 confirmed, later cancelled without a choice",
         {{FullScreen(8), Ok()}, {Cancel()}},
         1,
         "1024X768",
         "/100/0/1/1024/768\n"},
        {"opened, OK without a choice",
         {{FullScreen(3), Ok()}, {Ok()}},
         1,
         "1280X800",
         "/100/0/1/1280/800\n"},
        {"full screen 1366X768, then windowed 1152X864, OK",
         {{FullScreen(6), Windowed(1), Ok()}},
         0,
         "1152X864",
         "/100/0/2/1152/864\n"},
        {"Escape is Cancel", {{Windowed(7), Escape()}}, 0, "1024X768", "/100/0/2/1024/768\n"},
        {"typed text is not read, Enter is OK",
         {{TypeFullScreen("1440X900")}},
         0,
         "1024X768",
         "/100/0/2/1024/768\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.how);
        g_bFullScreen = 0;
        g_strResolution = "1024X768";
        for (const auto& opening : row.openings) Open(opening);
        EXPECT_EQ(g_bFullScreen, row.fullScreen);
        EXPECT_EQ(g_strResolution, row.resolution);
        EXPECT_EQ(BuildGameCommandLine(g_bFullScreen, g_strResolution), row.parameters);
    }
}

TEST(GameSet, ScrollingStoresEveryItemPassedOver) {
    g_bFullScreen = 0;
    g_strResolution = "1024X768";
    CGameSet dialog;
    dialog.show();
    QComboBox* combo = dialog.FullScreenCombo();
    combo->setFocus();
    std::vector<std::string> seen;
    QObject::connect(combo, &QComboBox::activated, [&] { seen.push_back(g_strResolution); });
    for (int i = 0; i < 3; ++i) QTest::keyClick(combo, Qt::Key_Down);
    EXPECT_EQ(seen, (std::vector<std::string>{"1024X768", "1152X864", "1280X768"}));
    EXPECT_EQ(g_bFullScreen, 1);
    EXPECT_EQ(g_strResolution, "1280X768");
}

TEST(GameSet, BothListsHoldTheNineResolutionsInOrder) {
    CGameSet dialog;
    for (QComboBox* combo : {dialog.WindowedCombo(), dialog.FullScreenCombo()}) {
        ASSERT_EQ(combo->count(), 9);
        for (int i = 0; i < 9; ++i) EXPECT_EQ(combo->itemText(i).toStdString(), kResolutions[i]);
    }
}

}  // namespace
}  // namespace launcher::test
