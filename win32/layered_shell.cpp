#include "win32/layered_shell.h"

#include <objbase.h>
#include <wincodec.h>

#include <cstring>

namespace launcher::win {

namespace {

// Decodes a "PNG" resource into premultiplied BGRA rows, as UpdateLayeredWindow
// with AC_SRC_ALPHA takes them.
bool DecodePng(UINT id, std::vector<BYTE>& pixels, int& width, int& height) {
    HMODULE module = ::GetModuleHandleW(nullptr);
    HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(id), L"PNG");
    if (!found) return false;
    HGLOBAL loaded = ::LoadResource(module, found);
    const DWORD size = ::SizeofResource(module, found);
    auto* bytes = static_cast<BYTE*>(::LockResource(loaded));
    if (!bytes || size == 0) return false;

    IWICImagingFactory* factory = nullptr;
    IWICStream* stream = nullptr;
    IWICBitmapDecoder* decoder = nullptr;
    IWICBitmapFrameDecode* frame = nullptr;
    IWICFormatConverter* converter = nullptr;
    bool ok = false;
    UINT w = 0, h = 0;
    if (SUCCEEDED(::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_PPV_ARGS(&factory))) &&
        SUCCEEDED(factory->CreateStream(&stream)) &&
        SUCCEEDED(stream->InitializeFromMemory(bytes, size)) &&
        SUCCEEDED(factory->CreateDecoderFromStream(stream, nullptr,
                                                   WICDecodeMetadataCacheOnDemand, &decoder)) &&
        SUCCEEDED(decoder->GetFrame(0, &frame)) &&
        SUCCEEDED(factory->CreateFormatConverter(&converter)) &&
        SUCCEEDED(converter->Initialize(frame, GUID_WICPixelFormat32bppPBGRA,
                                        WICBitmapDitherTypeNone, nullptr, 0.0,
                                        WICBitmapPaletteTypeCustom)) &&
        SUCCEEDED(converter->GetSize(&w, &h)) && w > 0 && h > 0) {
        pixels.resize(static_cast<size_t>(w) * h * 4);
        ok = SUCCEEDED(converter->CopyPixels(nullptr, w * 4, static_cast<UINT>(pixels.size()),
                                             pixels.data()));
    }
    if (converter) converter->Release();
    if (frame) frame->Release();
    if (decoder) decoder->Release();
    if (stream) stream->Release();
    if (factory) factory->Release();
    if (!ok) {
        pixels.clear();
        return false;
    }
    width = static_cast<int>(w);
    height = static_cast<int>(h);
    return true;
}

POINT ScreenPoint(HWND window, LPARAM lParam) {
    POINT point{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    ::ClientToScreen(window, &point);
    return point;
}

}  // namespace

void CPressToMove::OnPress(HWND window, LPARAM lParam) {
    m_bPressed = true;
    m_ptPress = ScreenPoint(window, lParam);
    ::SetCapture(window);
}

void CPressToMove::OnMouseMove(HWND window, WPARAM wParam, LPARAM lParam, HWND moved) {
    if (!m_bPressed) return;
    if (!(wParam & MK_LBUTTON)) {
        OnRelease(window);
        return;
    }
    const POINT point = ScreenPoint(window, lParam);
    const int dx = point.x > m_ptPress.x ? point.x - m_ptPress.x : m_ptPress.x - point.x;
    const int dy = point.y > m_ptPress.y ? point.y - m_ptPress.y : m_ptPress.y - point.y;
    if (dx < ::GetSystemMetrics(SM_CXDRAG) && dy < ::GetSystemMetrics(SM_CYDRAG)) return;
    OnRelease(window);
    ::SendMessageW(moved, WM_SYSCOMMAND, SC_MOVE | HTCAPTION, 0);
}

void CPressToMove::OnRelease(HWND window) {
    if (!m_bPressed) return;
    m_bPressed = false;  // first: ReleaseCapture sends WM_CAPTURECHANGED here
    if (::GetCapture() == window) ::ReleaseCapture();
}

CBackDialogBase::CBackDialogBase(UINT nPngId) : CDialog(kTemplateId, nullptr) {
    // A picture that does not decode leaves an empty, invisible background;
    // the controls still work.
    DecodePng(nPngId, m_pImage, m_nWidth, m_nHeight);
}

CBackDialogBase::~CBackDialogBase() {
    // The controls layer's window went with ours; its object goes now.
    m_pForeDialog.reset();
}

INT_PTR CBackDialogBase::DoModal() {
    m_bModal = false;
    m_bEnded = false;
    if (!Create()) return -1;
    HWND fore = m_pForeDialog ? m_pForeDialog->GetSafeHwnd() : nullptr;
    if (!m_bEnded) {
        ::ShowWindow(m_hWnd, SW_SHOWNORMAL);
        if (fore) {
            // Shown again after the background, so that an X window manager
            // under Wine stacks it above the background as Windows does.
            ::ShowWindow(fore, SW_HIDE);
            ::ShowWindow(fore, SW_SHOW);
            ::SetForegroundWindow(fore);
        }
    }
    MSG msg;
    while (!m_bEnded && ::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (fore && m_pForeDialog->PreTranslateMessage(msg)) continue;
        if (fore && ::IsDialogMessageW(fore, &msg)) continue;
        if (::IsDialogMessageW(m_hWnd, &msg)) continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    ::DestroyWindow(m_hWnd);  // the owned controls layer goes with it
    m_hWnd = nullptr;
    return m_nResult;
}

void CBackDialogBase::EndDialog(INT_PTR result) {
    m_nResult = result;
    m_bEnded = true;
    ::ShowWindow(m_hWnd, SW_HIDE);
    // The close may have come in a message sent from the worker, which
    // GetMessage handles without returning: wake the loop.
    ::PostMessageW(m_hWnd, WM_NULL, 0, 0);
}

BOOL CBackDialogBase::OnInitDialog() {
    // What the window system's WM_CREATE would do: the controls layer first.
    m_pForeDialog = CreateForeDialog();
    if (m_pForeDialog) m_pForeDialog->CreateOverParent();
    if (m_bEnded) return TRUE;  // the controls layer closed us already

    LONG_PTR style = ::GetWindowLongPtrW(m_hWnd, GWL_STYLE);
    style = (style & ~static_cast<LONG_PTR>(WS_CHILD | WS_CAPTION)) | WS_POPUP;
    ::SetWindowLongPtrW(m_hWnd, GWL_STYLE, style);
    ::SetWindowLongPtrW(m_hWnd, GWL_EXSTYLE,
                        ::GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE) | WS_EX_LAYERED);

    if (m_pForeDialog)
        ::SetWindowPos(m_pForeDialog->GetSafeHwnd(), nullptr, 0, 0, m_nWidth, m_nHeight,
                       SWP_NOMOVE | SWP_NOZORDER);

    // Centre the template-sized window, the template measured by the shared
    // table, not by this machine's dialog font.
    const ui::DialogTemplate& t = ui::BackgroundDialogTemplate();
    const ui::PixelRect size = ui::MapDialogRect(0, 0, t.cx, t.cy, t.units);
    RECT work{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const int x = work.left + (work.right - work.left - size.width) / 2;
    const int y = work.top + (work.bottom - work.top - size.height) / 2;
    ::SetWindowPos(m_hWnd, nullptr, x < work.left ? work.left : x, y < work.top ? work.top : y,
                   size.width, size.height, SWP_NOZORDER | SWP_NOACTIVATE);
    RenderBackground();
    // Wine does not report the size change of UpdateLayeredWindow.
    FollowWithForeDialog();
    return TRUE;
}

void CBackDialogBase::RenderBackground() {
    if (m_pImage.empty()) return;
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = m_nWidth;
    info.bmiHeader.biHeight = -m_nHeight;  // top row first, as decoded
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP dib = ::CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (dib && bits) {
        std::memcpy(bits, m_pImage.data(), m_pImage.size());
        HGDIOBJ old = ::SelectObject(memory, dib);
        RECT rect{};
        ::GetWindowRect(m_hWnd, &rect);
        POINT destination{rect.left, rect.top};
        SIZE size{m_nWidth, m_nHeight};
        POINT source{0, 0};
        BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
        ::UpdateLayeredWindow(m_hWnd, screen, &destination, &size, memory, &source, 0, &blend,
                              ULW_ALPHA);
        ::SelectObject(memory, old);
    }
    if (dib) ::DeleteObject(dib);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
}

void CBackDialogBase::FollowWithForeDialog() {
    if (!m_pForeDialog || m_bEnded) return;
    HWND fore = m_pForeDialog->GetSafeHwnd();
    if (!fore) return;
    RECT rect{};
    ::GetWindowRect(m_hWnd, &rect);
    ::SetWindowPos(fore, HWND_TOP, rect.left, rect.top, rect.right - rect.left,
                   rect.bottom - rect.top, SWP_SHOWWINDOW);
}

bool CBackDialogBase::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
    switch (message) {
        case WM_ERASEBKGND:
            result = TRUE;
            return true;
        case WM_MOVE:
        case WM_SIZE:
            FollowWithForeDialog();
            result = 0;
            return true;
        case WM_ACTIVATE:
            // Windows keeps an owned window above its owner by itself; an X
            // window manager under Wine may not, so lift the controls layer.
            if (LOWORD(wParam) != WA_INACTIVE && m_pForeDialog && m_pForeDialog->GetSafeHwnd())
                ::SetWindowPos(m_pForeDialog->GetSafeHwnd(), HWND_TOP, 0, 0, 0, 0,
                               SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
            return false;
        case WM_LBUTTONDOWN:
            // A press on the picture (or on the controls layer's key colour,
            // which lets it through) and a drag move the launcher.
            m_press.OnPress(m_hWnd, lParam);
            result = 0;
            return true;
        case WM_MOUSEMOVE:
            m_press.OnMouseMove(m_hWnd, wParam, lParam, m_hWnd);
            result = 0;
            return true;
        case WM_LBUTTONUP:
        case WM_CAPTURECHANGED:
            m_press.OnRelease(m_hWnd);
            result = 0;
            return true;
        case WM_CLOSE:
            EndDialog(IDCANCEL);
            result = 0;
            return true;
        default:
            return CDialog::OnMessage(message, wParam, lParam, result);
    }
}

CForeDialogBase::~CForeDialogBase() {
    ::DeleteObject(m_hKeyBrush);
}

void CForeDialogBase::CreateOverParent() {
    Create();
    HWND parent = GetParent();
    if (!m_hWnd || !parent || !::IsWindow(m_hWnd)) return;
    RECT rect{};
    ::GetWindowRect(parent, &rect);
    ::SetWindowPos(m_hWnd, HWND_TOP, rect.left, rect.top, rect.right - rect.left,
                   rect.bottom - rect.top, SWP_SHOWWINDOW);
}

void CForeDialogBase::MakeKeyedLayer() {
    LONG_PTR style = ::GetWindowLongPtrW(m_hWnd, GWL_STYLE);
    style = (style & ~static_cast<LONG_PTR>(WS_CAPTION | WS_THICKFRAME | DS_MODALFRAME)) | WS_POPUP;
    ::SetWindowLongPtrW(m_hWnd, GWL_STYLE, style);
    LONG_PTR exStyle = ::GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE);
    exStyle = (exStyle & ~static_cast<LONG_PTR>(WS_EX_APPWINDOW | WS_EX_DLGMODALFRAME)) |
              WS_EX_LAYERED;
    ::SetWindowLongPtrW(m_hWnd, GWL_EXSTYLE, exStyle);
    ::SetLayeredWindowAttributes(m_hWnd, m_crKey, 0, LWA_COLORKEY);
}

BOOL CForeDialogBase::OnInitDialog() {
    MakeKeyedLayer();
    return TRUE;
}

void CForeDialogBase::CloseParent() {
    if (HWND parent = GetParent()) ::SendMessageW(parent, WM_CLOSE, 0, 0);
}

void CForeDialogBase::OnOK() {
    CloseParent();
    CDialog::OnOK();
}

void CForeDialogBase::OnCancel() {
    CloseParent();
    CDialog::OnCancel();
}

bool CForeDialogBase::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
    switch (message) {
        case WM_CTLCOLORDLG:
            result = reinterpret_cast<INT_PTR>(m_hKeyBrush);
            return true;
        // Only the dialog's own background gets these, and it is all key
        // colour: where the window system does not pass such presses through
        // (Wine), we hand the drag to the background ourselves.
        case WM_LBUTTONDOWN:
            m_press.OnPress(m_hWnd, lParam);
            result = 0;
            return true;
        case WM_MOUSEMOVE:
            if (HWND parent = GetParent()) m_press.OnMouseMove(m_hWnd, wParam, lParam, parent);
            return false;
        case WM_LBUTTONUP:
        case WM_CAPTURECHANGED:
            m_press.OnRelease(m_hWnd);
            return false;
        default:
            return CDialog::OnMessage(message, wParam, lParam, result);
    }
}

}  // namespace launcher::win
