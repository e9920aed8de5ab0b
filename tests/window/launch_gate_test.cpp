// The Start button's answer to each gate value, and the game's command line
// for every resolution of the list in both modes.
#include "window/launch_gate.h"

#include <gtest/gtest.h>

#include "engine/game_command_line.h"
#include "window/display_choice.h"

namespace launcher::test {
namespace {

TEST(LaunchGate, StartsOnlyWhenOpen) {
    const struct {
        int gate;
        bool start;
        const char* notice;
        const char* parameters;
    } rows[] = {
        {0, true, "", "/100/0/1/1600/900\n"},
        {1, false, "版本不是最新，请更新后再进入游戏", ""},
        {2, false, "更新失败,请检测确认游戏服务器可以登录，且是最新版本", ""},
        {3, false, "", ""},
    };
    for (const auto& row : rows) {
        const ui::StartGameDecision decision = ui::DecideStartGame(row.gate, 1, "1600X900");
        EXPECT_EQ(decision.start, row.start) << row.gate;
        EXPECT_EQ(decision.notice, row.notice) << row.gate;
        EXPECT_EQ(decision.parameters, row.parameters) << row.gate;
    }
}

TEST(GameCommandLine, EveryResolutionInBothModes) {
    const struct {
        const char* width;
        const char* height;
    } rows[] = {
        {"1024", "768"}, {"1152", "864"}, {"1280", "768"}, {"1280", "800"}, {"1280", "960"},
        {"1360", "768"}, {"1366", "768"}, {"1440", "900"}, {"1600", "900"},
    };
    static_assert(std::size(rows) == kResolutions.size());
    for (std::size_t i = 0; i < kResolutions.size(); ++i) {
        EXPECT_EQ(std::string(rows[i].width) + "X" + rows[i].height, kResolutions[i]);
        for (int fullScreen : {0, 1}) {
            const std::string expected = std::string("/100/0/") + (fullScreen ? "1" : "2") + "/" +
                                         rows[i].width + "/" + rows[i].height + "\n";
            EXPECT_EQ(BuildGameCommandLine(fullScreen, kResolutions[i]), expected);
        }
    }
    EXPECT_EQ(BuildGameCommandLine(0, "1024X768").size(), 18u);
    // Shorter texts are taken whole, as Left(4) and Right(3) do.
    EXPECT_EQ(BuildGameCommandLine(0, "800"), "/100/0/2/800/800\n");
}

}  // namespace
}  // namespace launcher::test
