// OnDownloadProgress without a toolkit: the amount texts, the 120 ms refresh
// rule on the injected tick, the placing of the total after the received
// amount, the per-file bar and the note.
#include "window/download_progress.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/fakes.h"
#include "window/dialog_template.h"

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
        EXPECT_EQ(ui::ReceivedText(row.bytes), row.received) << row.bytes;
        EXPECT_EQ(ui::TotalText(row.bytes), row.total) << row.bytes;
    }
}

// The four controls as a window would show them, starting from template 102.
struct RecordingStatics : ui::IDownloadProgressView {
    RecordingStatics() {
        const ui::DialogTemplate& t = ui::MainDialogTemplate();
        totalOffset = t.Map(*t.Find(kIdStaticTotal)).left - t.Map(*t.Find(kIdStaticReceived)).left;
    }
    void SetReceivedText(const std::string& text) override { received = text; }
    void PlaceTotal(int offset) override { totalOffset = offset; }
    void SetTotalText(const std::string& text) override { total = text; }
    void SetFilePosition(std::uint32_t position) override { filePosition = position; }
    void ShowNote() override { noteShown = true; }

    std::string received;
    std::string total;
    int totalOffset = 0;
    std::uint32_t filePosition = 0;
    bool noteShown = false;
};

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

class DownloadProgressTest : public ::testing::Test {
protected:
    void Run(const std::vector<Step>& steps, std::uint32_t startTick = 0) {
        clock_.SetTick(startTick);
        ui::DownloadProgress progress(clock_);
        RecordingStatics statics;
        for (const Step& step : steps) {
            SCOPED_TRACE(step.what);
            clock_.SetTick(step.tick);
            EXPECT_EQ(progress.OnDownloadProgress(step.present, step.announced, statics), 0);
            EXPECT_EQ(statics.received, step.received);
            EXPECT_EQ(statics.total, step.total);
            EXPECT_EQ(statics.totalOffset, step.totalOffset);
            // The bar follows every message.
            EXPECT_EQ(statics.filePosition, step.present);
            EXPECT_TRUE(statics.noteShown);
        }
    }
    FakeClock clock_;
};

TEST_F(DownloadProgressTest, RefreshRuleAndPlacing) {
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

TEST_F(DownloadProgressTest, TickWrap) {
    Run(
        {
            {"refresh just before the wrap", 0xFFFFFFF0u, 1, 10000, "1 ", " / 9 kb", 12},
            {"112 ms across the wrap: no refresh", 0x60u, 20, 10000, "1 ", " / 9 kb", 12},
            {"128 ms across the wrap: refresh", 0x70u, 4096, 10000, "4 kb ", " / 9 kb", 30},
        },
        0xFFFFFF00u);
}

TEST_F(DownloadProgressTest, FirstMessageWithNothingAnnounced) {
    // T = 0 equals the remembered total: 1017 stays empty.
    Run({{"L == T == 0", 5, 0, 0, "0 ", "", 12}});
}

TEST_F(DownloadProgressTest, VeryFirstMessageRefreshesWhenTheSystemRanLongEnough) {
    Run({{"tick 121, last refresh 0", 121, 1, 100, "1 ", " / 100", 12}});
    Run({{"tick 120: too early", 120, 1, 100, "", "", 84}});
}

}  // namespace
}  // namespace launcher::test
