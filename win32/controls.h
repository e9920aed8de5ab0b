// The main dialog's own controls over the Win32 ones: owner-drawn bitmap
// buttons and progress bars that draw their fill and background colours
// themselves (the visual styles of common controls 6 ignore PBM_SETBARCOLOR).
#pragma once

#include <windows.h>

#include <cstdint>

namespace launcher::win {

class CBitmapButton {
public:
    CBitmapButton() = default;
    ~CBitmapButton();
    CBitmapButton(const CBitmapButton&) = delete;
    CBitmapButton& operator=(const CBitmapButton&) = delete;

    void Attach(HWND hWnd) { m_hWnd = hWnd; }
    HWND GetSafeHwnd() const { return m_hWnd; }
    // Resource ids of the faces; 0 loads none for that state.
    void LoadBitmaps(int normal, int selected, int focused, int disabled);
    // WM_DRAWITEM: the pressed face, else the focused one, else the disabled
    // one, else the normal one, copied unscaled from its top-left corner.
    void DrawItem(const DRAWITEMSTRUCT& item) const;

private:
    HWND m_hWnd = nullptr;
    HBITMAP m_normal = nullptr;
    HBITMAP m_selected = nullptr;
    HBITMAP m_focused = nullptr;
    HBITMAP m_disabled = nullptr;
};

class CProgressCtrl {
public:
    CProgressCtrl() = default;
    ~CProgressCtrl();
    CProgressCtrl(const CProgressCtrl&) = delete;
    CProgressCtrl& operator=(const CProgressCtrl&) = delete;

    // Takes over the painting of the bar `hWnd`. PBM_SETRANGE32 and
    // PBM_SETPOS take unsigned 32-bit values (a file's length and position).
    void Attach(HWND hWnd);
    HWND GetSafeHwnd() const { return m_hWnd; }

private:
    static LRESULT CALLBACK SubclassProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR id, DWORD_PTR data);
    void Paint();

    HWND m_hWnd = nullptr;
    // How many times range and positions are halved on their way into the
    // control.
    int m_shift = 0;
    COLORREF m_crBar = RGB(0, 0, 0);
    COLORREF m_crBk = RGB(0, 0, 0);
};

}  // namespace launcher::win
