// Dialog units to pixels: each edge rounded on its own, half away from zero.
#include "window/dialog_template.h"

#include <gtest/gtest.h>

#include "owner/engine_owner.h"

namespace launcher::test {
namespace {

TEST(DialogTemplate, MapsDialogUnitsToPixels) {
    const ui::DialogTemplate& main = ui::MainDialogTemplate();
    const ui::DialogTemplate& settings = ui::GameSetTemplate();
    const struct {
        const char* what;
        ui::PixelRect mapped;
        ui::PixelRect pixels;
    } rows[] = {
        {"main dialog", ui::MapDialogRect(0, 0, main.cx, main.cy, main.units), {0, 0, 1167, 586}},
        {"Start button", main.Map(*main.Find(kIdStart)), {777, 476, 193, 60}},
        {"total amount", main.Map(*main.Find(kIdStaticTotal)), {469, 476, 84, 14}},
        {"settings dialog", ui::MapDialogRect(0, 0, settings.cx, settings.cy, settings.units),
         {0, 0, 336, 210}},
    };
    for (const auto& row : rows) EXPECT_EQ(row.mapped, row.pixels) << row.what;
}

}  // namespace
}  // namespace launcher::test
