#include "win32/dialog.h"

namespace launcher::win {

bool CDialog::Create() {
    m_bModal = false;
    return ::CreateDialogParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_nIDTemplate),
                                m_hParent, DialogProc, reinterpret_cast<LPARAM>(this)) != nullptr;
}

INT_PTR CDialog::DoModal() {
    m_bModal = true;
    return ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_nIDTemplate),
                             m_hParent, DialogProc, reinterpret_cast<LPARAM>(this));
}

void CDialog::EndDialog(INT_PTR result) {
    if (m_bModal)
        ::EndDialog(m_hWnd, result);
    else
        ::ShowWindow(m_hWnd, SW_HIDE);
}

bool CDialog::OnMessage(UINT message, WPARAM wParam, LPARAM, INT_PTR&) {
    if (message != WM_COMMAND) return false;
    switch (LOWORD(wParam)) {
        case IDOK:
            OnOK();
            return true;
        case IDCANCEL:
            OnCancel();
            return true;
        default:
            return false;
    }
}

void CDialog::PlaceControls(const ui::DialogTemplate& layout) {
    // Children come in template order, the ones without an id included.
    HWND child = ::GetWindow(m_hWnd, GW_CHILD);
    for (const ui::ControlTemplate& control : layout.controls) {
        if (!child) break;
        const ui::PixelRect r = layout.Map(control);
        ::SetWindowPos(child, nullptr, r.left, r.top, r.width, r.height,
                       SWP_NOZORDER | SWP_NOACTIVATE);
        child = ::GetWindow(child, GW_HWNDNEXT);
    }
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CDialog* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<CDialog*>(lParam);
        self->m_hWnd = hWnd;
        ::SetWindowLongPtrW(hWnd, DWLP_USER, lParam);
        return self->OnInitDialog();
    }
    self = reinterpret_cast<CDialog*>(::GetWindowLongPtrW(hWnd, DWLP_USER));
    if (!self) return FALSE;
    INT_PTR result = 0;
    if (!self->OnMessage(message, wParam, lParam, result)) return FALSE;
    // Answers that are not the message's result go through DWLP_MSGRESULT.
    switch (message) {
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORSCROLLBAR:
            return result;
        default:
            ::SetWindowLongPtrW(hWnd, DWLP_MSGRESULT, result);
            return TRUE;
    }
}

}  // namespace launcher::win
