#include "win32/controls.h"

#include <commctrl.h>

#include <algorithm>
#include <climits>

namespace launcher::win {

namespace {

HBITMAP LoadFace(int id) {
    if (id == 0) return nullptr;
    return static_cast<HBITMAP>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id),
                                             IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
}

void DeleteFace(HBITMAP& face) {
    if (face) ::DeleteObject(face);
    face = nullptr;
}

constexpr UINT_PTR kSubclassId = 1;

}  // namespace

CBitmapButton::~CBitmapButton() {
    DeleteFace(m_normal);
    DeleteFace(m_selected);
    DeleteFace(m_focused);
    DeleteFace(m_disabled);
}

void CBitmapButton::LoadBitmaps(int normal, int selected, int focused, int disabled) {
    DeleteFace(m_normal);
    DeleteFace(m_selected);
    DeleteFace(m_focused);
    DeleteFace(m_disabled);
    m_normal = LoadFace(normal);
    m_selected = LoadFace(selected);
    m_focused = LoadFace(focused);
    m_disabled = LoadFace(disabled);
    if (m_hWnd) ::InvalidateRect(m_hWnd, nullptr, FALSE);
}

void CBitmapButton::DrawItem(const DRAWITEMSTRUCT& item) const {
    HBITMAP face = m_normal;
    if ((item.itemState & ODS_SELECTED) && m_selected)
        face = m_selected;
    else if ((item.itemState & ODS_FOCUS) && m_focused)
        face = m_focused;
    else if ((item.itemState & ODS_DISABLED) && m_disabled)
        face = m_disabled;
    if (!face) return;
    HDC memory = ::CreateCompatibleDC(item.hDC);
    HGDIOBJ old = ::SelectObject(memory, face);
    const RECT& r = item.rcItem;
    ::BitBlt(item.hDC, r.left, r.top, r.right - r.left, r.bottom - r.top, memory, 0, 0, SRCCOPY);
    ::SelectObject(memory, old);
    ::DeleteDC(memory);
}

CProgressCtrl::~CProgressCtrl() {
    if (m_hWnd && ::IsWindow(m_hWnd)) ::RemoveWindowSubclass(m_hWnd, SubclassProc, kSubclassId);
}

void CProgressCtrl::Attach(HWND hWnd) {
    m_hWnd = hWnd;
    if (m_hWnd)
        ::SetWindowSubclass(m_hWnd, SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
}

void CProgressCtrl::Paint() {
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(m_hWnd, &ps);
    RECT client{};
    ::GetClientRect(m_hWnd, &client);
    const auto low = static_cast<long long>(::SendMessageW(m_hWnd, PBM_GETRANGE, TRUE, 0));
    const auto high = static_cast<long long>(::SendMessageW(m_hWnd, PBM_GETRANGE, FALSE, 0));
    const auto pos = static_cast<long long>(::SendMessageW(m_hWnd, PBM_GETPOS, 0, 0));
    const long long width = client.right - client.left;
    long long filled = 0;
    if (high > low) filled = width * (pos - low) / (high - low);
    if (filled < 0) filled = 0;
    if (filled > width) filled = width;

    RECT bar = client;
    bar.right = client.left + static_cast<LONG>(filled);
    RECT rest = client;
    rest.left = bar.right;
    HBRUSH barBrush = ::CreateSolidBrush(m_crBar);
    HBRUSH bkBrush = ::CreateSolidBrush(m_crBk);
    ::FillRect(dc, &bar, barBrush);
    ::FillRect(dc, &rest, bkBrush);
    ::DeleteObject(barBrush);
    ::DeleteObject(bkBrush);
    ::EndPaint(m_hWnd, &ps);
}

LRESULT CALLBACK CProgressCtrl::SubclassProc(HWND hWnd, UINT message, WPARAM wParam,
                                             LPARAM lParam, UINT_PTR, DWORD_PTR data) {
    auto* self = reinterpret_cast<CProgressCtrl*>(data);
    switch (message) {
        case PBM_SETBARCOLOR:
        case PBM_SETBKCOLOR: {
            COLORREF& colour = message == PBM_SETBARCOLOR ? self->m_crBar : self->m_crBk;
            const COLORREF previous = colour;
            colour = static_cast<COLORREF>(lParam);
            ::InvalidateRect(hWnd, nullptr, FALSE);
            return previous;
        }
        case PBM_SETPOS: {
            // The control's own repaint may be themed: let it keep the
            // numbers, then paint it our way.
            const auto position = static_cast<std::uint32_t>(wParam);
            const LRESULT result = ::DefSubclassProc(hWnd, message, position >> self->m_shift, 0);
            ::InvalidateRect(hWnd, nullptr, FALSE);
            return result;
        }
        case PBM_SETRANGE32: {
            // The control keeps ints: a range above INT_MAX (a file over
            // 2 GiB) goes in halved as often as needed, positions with it.
            const auto low = static_cast<std::uint32_t>(wParam);
            const auto high = static_cast<std::uint32_t>(lParam);
            const int previous = self->m_shift;
            int& shift = self->m_shift;
            shift = 0;
            while ((std::max(low, high) >> shift) > INT_MAX) ++shift;
            const LRESULT result = ::DefSubclassProc(hWnd, message, low >> shift,
                                                     static_cast<LPARAM>(high >> shift));
            if (shift != previous) {
                // The kept position, in the new scale.
                const auto kept = static_cast<std::uint32_t>(
                    ::DefSubclassProc(hWnd, PBM_GETPOS, 0, 0));
                ::DefSubclassProc(hWnd, PBM_SETPOS, (kept << previous) >> shift, 0);
            }
            ::InvalidateRect(hWnd, nullptr, FALSE);
            return result;
        }
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT:
            self->Paint();
            return 0;
        case WM_NCDESTROY:
            ::RemoveWindowSubclass(hWnd, SubclassProc, kSubclassId);
            self->m_hWnd = nullptr;
            break;
        default:
            break;
    }
    return ::DefSubclassProc(hWnd, message, wParam, lParam);
}

}  // namespace launcher::win
