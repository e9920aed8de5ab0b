// A dialog over the Win32 dialog manager: a template id, a window, virtual
// handlers. The few framework pieces the launcher's dialogs stand on, no more.
#pragma once

#include <windows.h>

#include "window/dialog_template.h"

namespace launcher::win {

class CDialog {
public:
    CDialog(int nIDTemplate, HWND hParent) : m_nIDTemplate(nIDTemplate), m_hParent(hParent) {}
    virtual ~CDialog() = default;
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Modeless window from the template; false when it could not be made.
    bool Create();
    // Runs the dialog modally with the dialog manager's own loop.
    virtual INT_PTR DoModal();

    HWND GetSafeHwnd() const { return m_hWnd; }
    HWND GetParent() const { return m_hParent; }
    HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }

protected:
    virtual BOOL OnInitDialog() { return TRUE; }
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    // A message the dialog handles itself: true with its result.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result);
    virtual void EndDialog(INT_PTR result);

    // Places the controls where the shared template table puts them, in
    // pixels, instead of where this machine's "MS Shell Dlg" would.
    void PlaceControls(const ui::DialogTemplate& layout);

    HWND m_hWnd = nullptr;
    bool m_bModal = false;

private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

    int m_nIDTemplate;
    HWND m_hParent;
};

}  // namespace launcher::win
