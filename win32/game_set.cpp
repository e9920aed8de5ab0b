#include "win32/game_set.h"

#include <string>

#include "platform/win32/wide_text.h"
#include "window/display_choice.h"
#include "window/repair_request.h"

namespace launcher::win {

namespace {

std::string ItemText(HWND combo, LRESULT index) {
    if (index < 0) return {};
    const LRESULT length = ::SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length <= 0) return {};
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    ::SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(index),
                   reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(length));
    return win32::Utf8(text);
}

HICON ApplicationIcon(int sizeMetric) {
    const int size = ::GetSystemMetrics(sizeMetric);
    return static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(128),
                                           IMAGE_ICON, size, size, 0));
}

}  // namespace

CGameSet::~CGameSet() {
    if (m_hSmallIcon) ::DestroyIcon(m_hSmallIcon);
    if (m_hBigIcon) ::DestroyIcon(m_hBigIcon);
}

BOOL CGameSet::OnInitDialog() {
    // The application's icon in the title, and no minimise or maximise box:
    // a modal dialog is closed, never put away.
    m_hSmallIcon = ApplicationIcon(SM_CXSMICON);
    m_hBigIcon = ApplicationIcon(SM_CXICON);
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hSmallIcon));
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hBigIcon));
    ::SetWindowLongPtrW(m_hWnd, GWL_STYLE,
                        ::GetWindowLongPtrW(m_hWnd, GWL_STYLE) &
                            ~static_cast<LONG_PTR>(WS_MINIMIZEBOX | WS_MAXIMIZEBOX));

    const ui::DialogTemplate& layout = ui::GameSetTemplate();
    PlaceControls(layout);
    // The launcher's own addition: the repair, which ends the dialog with its
    // own result for the launcher's window to act on.
    const ui::ControlTemplate& repair = ui::RepairButtonTemplate();
    const ui::PixelRect place = layout.Map(repair);
    HWND button = ::CreateWindowExW(
        0, L"BUTTON", win32::Wide(repair.text).c_str(),
        WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, place.left, place.top, place.width,
        place.height, m_hWnd, reinterpret_cast<HMENU>(static_cast<INT_PTR>(repair.id)),
        ::GetModuleHandleW(nullptr), nullptr);
    ::SendMessageW(button, WM_SETFONT, ::SendMessageW(m_hWnd, WM_GETFONT, 0, 0), FALSE);
    // The client area the table gives, centred over the launcher.
    const ui::PixelRect client = ui::MapDialogRect(0, 0, layout.cx, layout.cy, layout.units);
    RECT frame{0, 0, client.width, client.height};
    ::AdjustWindowRectEx(&frame, static_cast<DWORD>(::GetWindowLongPtrW(m_hWnd, GWL_STYLE)), FALSE,
                         static_cast<DWORD>(::GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE)));
    RECT owner{};
    if (GetParent())
        ::GetWindowRect(GetParent(), &owner);
    else
        ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &owner, 0);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    ::SetWindowPos(m_hWnd, nullptr, owner.left + (owner.right - owner.left - width) / 2,
                   owner.top + (owner.bottom - owner.top - height) / 2, width, height,
                   SWP_NOZORDER | SWP_FRAMECHANGED);

    for (int id : {kIdComboFullScreen, kIdComboWindowed})
        for (const char* resolution : kResolutions)
            ::SendDlgItemMessageW(m_hWnd, id, CB_ADDSTRING, 0,
                                  reinterpret_cast<LPARAM>(win32::Wide(resolution).c_str()));
    // Shows 1024X768 as windowed whatever is chosen: this stores nothing.
    ::SendDlgItemMessageW(m_hWnd, kIdComboWindowed, CB_SETCURSEL, 0, 0);
    return TRUE;
}

void CGameSet::OnSelChange(int comboId, int fullScreen) {
    HWND combo = GetDlgItem(comboId);
    g_bFullScreen = fullScreen;
    g_strResolution = ItemText(combo, ::SendMessageW(combo, CB_GETCURSEL, 0, 0));
}

void CGameSet::OnCancelSettings() {
    // Cancel keeps the screen mode but always resets the resolution.
    g_strResolution = ItemText(GetDlgItem(kIdComboFullScreen), 0);
    OnCancel();
}

bool CGameSet::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
    if (message == WM_COMMAND) {
        const int id = LOWORD(wParam);
        const int code = HIWORD(wParam);
        if (code == CBN_SELCHANGE && id == kIdComboFullScreen) {
            OnSelChange(id, 1);
            return true;
        }
        if (code == CBN_SELCHANGE && id == kIdComboWindowed) {
            OnSelChange(id, 0);
            return true;
        }
        if (id == ui::kIdRepair && code == BN_CLICKED) {
            EndDialog(ui::kRepairChosen);
            return true;
        }
        if (id == IDCANCEL) {
            OnCancelSettings();
            return true;
        }
    }
    return CDialog::OnMessage(message, wParam, lParam, result);
}

}  // namespace launcher::win
