// The dialog templates of the launcher (main dialog 102, background 142,
// display settings 146) and the bitmap-button faces, as data: the windows are
// built from them and the artwork generator draws the background to fit them.
//
// Geometry is in dialog units. A dialog unit is a quarter of the dialog font's
// average character width horizontally and an eighth of its height
// vertically. The templates name "MS Shell Dlg" (9 pt for 102, 8 pt for 142
// and 146); at 96 dpi those fonts give base units of 7 x 14 and 6 x 13 pixels.
// We use these constants instead of measuring whatever font stands in for
// "MS Shell Dlg" on the machine, so the controls always land on the places the
// background picture and the button faces were drawn for. Each edge is
// converted on its own and rounded like MulDiv (half away from zero), so
// neighbouring controls keep their shared edges.
#pragma once

#include <span>

namespace launcher::ui {

struct DialogBaseUnits {
    int cx;  // pixels per 4 horizontal dialog units
    int cy;  // pixels per 8 vertical dialog units
};
inline constexpr DialogBaseUnits kShellDlg9pt{7, 14};
inline constexpr DialogBaseUnits kShellDlg8pt{6, 13};

struct PixelRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    bool operator==(const PixelRect&) const = default;
};

PixelRect MapDialogRect(int x, int y, int cx, int cy, DialogBaseUnits units);

enum class ControlKind {
    kBitmapButton,
    kPushButton,
    kDefPushButton,
    kProgress,
    kStatic,
    kBrowser,
    kComboBox,
    kGroupBox
};
enum class TextAlign { kLeft, kCenter, kRight };

struct ControlTemplate {
    int id;  // kNoId for the statics and frames without one
    ControlKind kind;
    const char* text;  // UTF-8
    int x, y, cx, cy;  // dialog units
    bool visible;      // WS_VISIBLE in the template
    TextAlign align = TextAlign::kLeft;
};
inline constexpr int kNoId = -1;

struct DialogTemplate {
    int id;
    const char* caption;
    int pointSize;
    DialogBaseUnits units;
    int cx, cy;  // dialog units
    std::span<const ControlTemplate> controls;

    PixelRect Map(const ControlTemplate& c) const {
        return MapDialogRect(c.x, c.y, c.cx, c.cy, units);
    }
    // Control by id; null when the template has none.
    const ControlTemplate* Find(int controlId) const;
};

const DialogTemplate& MainDialogTemplate();        // 102
const DialogTemplate& BackgroundDialogTemplate();  // 142
const DialogTemplate& GameSetTemplate();           // 146

// The faces of one bitmap button: resource ids (0 for none) and face size.
struct ButtonFaces {
    int buttonId;
    int normal, selected, focused, disabled;
    int width, height;
};
// In the order the main dialog loads them (buttons 3, 5, 6, 7, 8, 1000, 4, 1, 2).
std::span<const ButtonFaces> MainDialogFaces();

}  // namespace launcher::ui
