// The launcher's main dialog on Windows: the controls layer over the
// background picture. It starts the update (single-instance lock, decompressor,
// own version, news link, worker) and shows what the engine reports; every way
// of closing it stops the worker without waiting and closes the background,
// which ends the program.
#pragma once

#include <windows.h>

#include <array>
#include <memory>
#include <string>

#include "engine/deployment.h"
#include "owner/engine_owner.h"
#include "win32/controls.h"
#include "win32/layered_shell.h"
#include "win32/web_browser_host.h"
#include "window/dialog_template.h"
#include "window/download_progress.h"
#include "window/engine_run.h"

namespace launcher {

class StopFlag;

namespace win {

class WinOwnerAdapter;

class CForeDialog final : public CForeDialogBase, public IEngineOwner {
public:
    static constexpr int kTemplateId = 102;

    explicit CForeDialog(HWND hParent);
    ~CForeDialog() override;

    // The receiving side of the engine, on the interface thread.
    void ShowControl(int controlId, int showCommand) override;
    void SetControlText(int controlId, const std::string& text) override;
    void SendMessageTo(int controlId, unsigned message, std::uint32_t wParam,
                       std::uint32_t lParam) override;
    void OnCancel() override;

    bool PreTranslateMessage(MSG& msg) override;

protected:
    BOOL OnInitDialog() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

private:
    int OnDownloadProgress(std::uint32_t wParam, std::uint32_t lParam);
    void OnStartGame();
    void OnSettings();
    // The repair chosen in the settings dialog: a second engine run once the
    // first has ended.
    void OnRepair();
    void OnClose();
    void OpenAddress(const std::string& address);
    void ShowNewsLink();
    void StopWorker();
    void StartWorker();
    // The speed or reason line, made beside the template's controls.
    HWND CreateStatusLine(const ui::ControlTemplate& control, DWORD align);
    // Shows a failed run's reason and the log once the worker has ended.
    void ShowFailureNotice();
    CBitmapButton* Button(int controlId);

    Deployment m_deployment = BuiltInDeployment();
    ui::EngineRun m_run;  // the worker (m_pWorkerThread) and what it uses
    std::string m_strNewsUrl;
    CWebBrowserHost m_browser;
    HICON m_hIcon = nullptr;
    HFONT m_hAmountFont = nullptr;
    HFONT m_hLinkFont = nullptr;
    // The news pane's own colour, as our page for a news page that did not load.
    HBRUSH m_hPaneBrush = ::CreateSolidBrush(RGB(19, 43, 63));
    HFONT m_hSmallFont = nullptr;
    HWND m_hSpeed = nullptr;   // speed and time left
    HWND m_hReason = nullptr;  // a failed run's reason and the log
    bool m_noticeShown = false;
    bool m_repairing = false;
    CProgressCtrl m_progressFile;
    CProgressCtrl m_progressTotal;
    // Buttons 3, 5, 6, 7, 8, 1000, 4, 1, 2: the order their faces load in.
    std::array<CBitmapButton, 9> m_buttons;
    ui::DownloadProgress m_progress;

    std::shared_ptr<StopFlag> m_stop;
    std::shared_ptr<WinOwnerAdapter> m_owner;
};

class CBackDialog final : public CBackDialogBase {
public:
    explicit CBackDialog(UINT nPngId) : CBackDialogBase(nPngId) {}

protected:
    std::unique_ptr<CForeDialogBase> CreateForeDialog() override {
        return std::make_unique<CForeDialog>(m_hWnd);
    }
};

}  // namespace win
}  // namespace launcher
