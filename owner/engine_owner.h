// The seam between the update engine and the window that shows it: control ids,
// message numbers and the owner interface. The engine and the fetcher reach the
// window only through IEngineOwner, so the Qt window, the console front end and
// the tests can all stand in for it.
#pragma once

#include <cstdint>
#include <string>

namespace launcher {

// Control ids of the main dialog. 0 addresses the dialog itself.
enum ControlId : int {
    kDialog = 0,
    kIdStart = 1,          // IDOK: "开始游戏"
    kIdExit = 2,           // IDCANCEL: "退出游戏"
    kIdRegister = 3,       // "官网注册"
    kIdStartIdle = 4,      // inactive Start face
    kIdHome = 5,           // "官网首页"
    kIdPay = 6,            // "充值"
    kIdForum = 7,          // "论坛"
    kIdService = 8,        // "客服"
    kIdSettings = 1000,    // "设置"
    kIdBrowser = 1003,     // news pane
    kIdProgressFile = 1004,
    kIdProgressTotal = 1005,
    kIdStaticUpdating = 1011,  // "更新中..."
    kIdStaticDone = 1012,      // "更新完成"
    kIdStaticVersion = 1013,   // status line
    kIdStaticReceived = 1014,  // received amount
    kIdStaticNote = 1015,      // status note ("更新失败")
    kIdStaticTotal = 1017,     // total amount
};

// Window message numbers, as the window system numbers them.
enum MessageId : unsigned {
    kWmUser = 0x0400,
    kPbmSetPos = kWmUser + 2,        // PBM_SETPOS
    kPbmSetBarColor = kWmUser + 9,   // PBM_SETBARCOLOR
    kPbmSetRange32 = kWmUser + 6,    // PBM_SETRANGE32
    kPbmSetBkColor = 0x2001,         // PBM_SETBKCOLOR (CCM_SETBKCOLOR)
    kWmDownloadProgress = kWmUser + 102,  // 0x466: wParam L, lParam T
};

// ShowWindow commands used by the engine.
enum ShowCommand : int { kSwHide = 0, kSwShowNormal = 1 };

// A COLORREF: 0x00BBGGRR.
constexpr std::uint32_t Rgb(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    return static_cast<std::uint32_t>(r) | (static_cast<std::uint32_t>(g) << 8) |
           (static_cast<std::uint32_t>(b) << 16);
}

// What the engine needs of the main dialog. Calls come from the worker thread;
// an implementation carries them to the interface thread in the order they are
// made. ShowControl and SetControlText complete before they return;
// SendMessageTo may deliver progress without making the worker wait, as long as
// the order with the other calls is kept and a WM_DOWNLOAD_PROGRESS with L == T
// is always delivered.
class IEngineOwner {
public:
    virtual ~IEngineOwner() = default;
    virtual void ShowControl(int controlId, int showCommand) = 0;
    virtual void SetControlText(int controlId, const std::string& text) = 0;
    virtual void SendMessageTo(int controlId, unsigned message, std::uint32_t wParam,
                               std::uint32_t lParam) = 0;
    // The engine asks the window to close after it downloaded a replacement
    // launcher; runs on the worker thread.
    virtual void OnCancel() = 0;
};

}  // namespace launcher
