// The launcher's window is two top-level windows over the same rectangle: the
// background layer shows a PNG with per-pixel alpha (UpdateLayeredWindow), the
// controls layer lies over it, owned by it, colour-keyed on black, so its
// controls float on the picture and its black pixels let the mouse through.
#pragma once

#include <windows.h>

#include <memory>
#include <vector>

#include "win32/dialog.h"

namespace launcher::win {

class CForeDialogBase;

// A press that becomes a move of the launcher only once the pointer has left
// the system's drag rectangle with the button held. A system move started by
// the press itself leaves the window stuck to the pointer after a plain click
// (Wine), until the next click.
class CPressToMove {
public:
    // On WM_LBUTTONDOWN: captures the mouse for `window`.
    void OnPress(HWND window, LPARAM lParam);
    // On WM_MOUSEMOVE: past the drag distance, releases the capture and starts
    // the system move of `moved`.
    void OnMouseMove(HWND window, WPARAM wParam, LPARAM lParam, HWND moved);
    // On WM_LBUTTONUP and WM_CAPTURECHANGED.
    void OnRelease(HWND window);

private:
    bool m_bPressed = false;
    POINT m_ptPress{};
};

class CBackDialogBase : public CDialog {
public:
    static constexpr int kTemplateId = 142;

    explicit CBackDialogBase(UINT nPngId);
    ~CBackDialogBase() override;

    // The modal run: the background window and the controls layer share one
    // loop, so each gets its dialog keys (Enter, Escape, Tab).
    INT_PTR DoModal() override;

    int ImageWidth() const { return m_nWidth; }
    int ImageHeight() const { return m_nHeight; }

protected:
    virtual std::unique_ptr<CForeDialogBase> CreateForeDialog() = 0;

    BOOL OnInitDialog() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
    void EndDialog(INT_PTR result) override;

private:
    void RenderBackground();
    void FollowWithForeDialog();

    // Premultiplied BGRA, top row first; empty when the PNG did not decode.
    std::vector<BYTE> m_pImage;
    int m_nWidth = 0;
    int m_nHeight = 0;
    std::unique_ptr<CForeDialogBase> m_pForeDialog;
    CPressToMove m_press;
    bool m_bEnded = false;
    INT_PTR m_nResult = IDCANCEL;
};

class CForeDialogBase : public CDialog {
public:
    CForeDialogBase(int nIDTemplate, HWND hParent) : CDialog(nIDTemplate, hParent) {}
    ~CForeDialogBase() override;

    // Creates the window and lays it over the background window.
    void CreateOverParent();
    // A message of the shared loop before the dialog keys: true when taken.
    virtual bool PreTranslateMessage(MSG&) { return false; }

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

    // The style changes and the colour key of the controls layer.
    void MakeKeyedLayer();
    // Sends WM_CLOSE to the background window, which ends the modal run.
    void CloseParent();
    HBRUSH KeyBrush() const { return m_hKeyBrush; }

    const COLORREF m_crKey = RGB(0, 0, 0);

private:
    CPressToMove m_press;
    HBRUSH m_hKeyBrush = ::CreateSolidBrush(RGB(0, 0, 0));
};

}  // namespace launcher::win
