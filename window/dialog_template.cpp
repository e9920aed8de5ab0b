#include "window/dialog_template.h"

#include <array>

#include "owner/engine_owner.h"

namespace launcher::ui {

namespace {

int MulDiv(int number, int numerator, int denominator) {
    const long long product = static_cast<long long>(number) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator
                                         : (product - half) / denominator);
}

using K = ControlKind;
using A = TextAlign;

constexpr std::array kMainControls{
    ControlTemplate{kIdStart, K::kBitmapButton, "开始游戏", 444, 272, 110, 34, true},
    ControlTemplate{kIdExit, K::kBitmapButton, "退出游戏", 500, 311, 52, 17, true},
    ControlTemplate{kIdSettings, K::kBitmapButton, "设置", 444, 311, 52, 17, true},
    ControlTemplate{kIdBrowser, K::kBrowser, "", 93, 110, 461, 138, true},
    ControlTemplate{kIdProgressFile, K::kProgress, "", 134, 285, 268, 6, true},
    ControlTemplate{kIdProgressTotal, K::kProgress, "", 134, 297, 268, 6, true},
    ControlTemplate{kNoId, K::kStatic, "", 93, 89, 31, 8, true, A::kCenter},
    ControlTemplate{kNoId, K::kStatic, "", 53, 87, 35, 8, true, A::kCenter},
    ControlTemplate{kIdRegister, K::kBitmapButton, "官网注册", 285, 92, 47, 15, true},
    ControlTemplate{kIdStartIdle, K::kBitmapButton, "开始游戏", 444, 271, 110, 34, true},
    ControlTemplate{kIdStaticUpdating, K::kStatic, "更新中...", 99, 253, 28, 8, true},
    ControlTemplate{kIdStaticDone, K::kStatic, "更新完成", 98, 254, 28, 8, true},
    ControlTemplate{kIdStaticVersion, K::kStatic, "当前版本：0 /最新版本：10", 149, 254, 156, 8,
                    true, A::kCenter},
    ControlTemplate{kIdStaticReceived, K::kStatic, "", 220, 272, 48, 8, true},
    ControlTemplate{kIdStaticNote, K::kStatic, "", 182, 272, 33, 8, false, A::kRight},
    ControlTemplate{kIdStaticTotal, K::kStatic, "", 268, 272, 48, 8, true},
    ControlTemplate{kIdHome, K::kBitmapButton, "官网首页", 211, 92, 47, 15, true},
    ControlTemplate{kIdPay, K::kBitmapButton, "充值", 360, 92, 46, 14, true},
    ControlTemplate{kIdForum, K::kBitmapButton, "论坛", 508, 92, 47, 15, true},
    ControlTemplate{kIdService, K::kBitmapButton, "客服", 435, 92, 47, 14, true},
};

constexpr std::array kGameSetControls{
    ControlTemplate{1, K::kDefPushButton, "确定", 91, 108, 50, 14, true},
    ControlTemplate{2, K::kPushButton, "取消", 167, 108, 50, 14, true},
    ControlTemplate{kNoId, K::kGroupBox, "画面设置", 22, 17, 178, 86, true},
    ControlTemplate{1007, K::kComboBox, "", 105, 60, 65, 238, true},
    ControlTemplate{1008, K::kComboBox, "", 105, 38, 65, 238, true},
    ControlTemplate{kNoId, K::kStatic, "窗口模式：", 50, 40, 41, 8, true},
    ControlTemplate{kNoId, K::kStatic, "全屏模式：", 49, 63, 41, 8, true},
};

constexpr std::array kFaces{
    ButtonFaces{kIdRegister, 129, 130, 131, 0, 84, 26},
    ButtonFaces{kIdHome, 147, 148, 149, 0, 84, 26},
    ButtonFaces{kIdPay, 150, 151, 152, 0, 84, 26},
    ButtonFaces{kIdForum, 153, 154, 155, 0, 84, 26},
    ButtonFaces{kIdService, 156, 157, 158, 0, 84, 26},
    ButtonFaces{kIdSettings, 135, 136, 137, 0, 92, 30},
    ButtonFaces{kIdStartIdle, 141, 0, 0, 0, 197, 62},
    ButtonFaces{kIdStart, 138, 139, 140, 141, 197, 62},
    ButtonFaces{kIdExit, 132, 133, 134, 0, 92, 30},
};

}  // namespace

PixelRect MapDialogRect(int x, int y, int cx, int cy, DialogBaseUnits units) {
    const int left = MulDiv(x, units.cx, 4);
    const int top = MulDiv(y, units.cy, 8);
    const int right = MulDiv(x + cx, units.cx, 4);
    const int bottom = MulDiv(y + cy, units.cy, 8);
    return {left, top, right - left, bottom - top};
}

const ControlTemplate* DialogTemplate::Find(int controlId) const {
    if (controlId == kNoId) return nullptr;
    for (const ControlTemplate& c : controls)
        if (c.id == controlId) return &c;
    return nullptr;
}

const DialogTemplate& MainDialogTemplate() {
    static const DialogTemplate t{102, "Launcher", 9, kShellDlg9pt, 667, 335, kMainControls};
    return t;
}

const DialogTemplate& BackgroundDialogTemplate() {
    static const DialogTemplate t{142, "自动更新", 8, kShellDlg8pt, 824, 383, {}};
    return t;
}

const DialogTemplate& GameSetTemplate() {
    static const DialogTemplate t{146, "自动更新", 8, kShellDlg8pt, 224, 129, kGameSetControls};
    return t;
}

std::span<const ButtonFaces> MainDialogFaces() {
    return kFaces;
}

}  // namespace launcher::ui
