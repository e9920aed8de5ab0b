#include "win32/fore_dialog.h"

#include <commctrl.h>
#include <shellapi.h>

#include <chrono>
#include <cstdio>

#include "engine/file_index_run.h"
#include "engine/game_command_line.h"
#include "engine/globals.h"
#include "engine/my_fun.h"
#include "platform/clock.h"
#include "platform/message_box.h"
#include "platform/process.h"
#include "platform/single_instance.h"
#include "platform/stop_flag.h"
#include "platform/win32/wide_text.h"
#include "win32/game_set.h"
#include "win32/owner_adapter.h"
#include "window/dialog_template.h"
#include "window/display_choice.h"
#include "window/launch_gate.h"
#include "window/news_error_page.h"
#include "window/page_links.h"
#include "window/repair_request.h"
#include "window/status_lines.h"
#include "window/window_settings.h"

namespace launcher::win {

namespace {

// The engine's message boxes: on the worker thread, without an owner, as the
// engine has always shown them; none once the launcher is closing.
class WinMessageBoxes final : public IMessageBoxes {
public:
    explicit WinMessageBoxes(std::shared_ptr<StopFlag> stop) : m_stop(std::move(stop)) {}
    void Show(const std::string& caption, const std::string& text) override {
        if (m_stop->IsStopped()) return;
        ::MessageBoxW(nullptr, win32::Wide(text).c_str(), win32::Wide(caption).c_str(), MB_OK);
    }

private:
    std::shared_ptr<StopFlag> m_stop;
};

// The caption of the application's own notices: the program file's name
// without its extension.
std::wstring ApplicationName() {
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring name(path);
    const size_t slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos) name.erase(0, slash + 1);
    const size_t dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos) name.erase(dot);
    return name;
}

// Repaints the dialog under a control: the statics have no background of
// their own, so the key colour must be put back under their old text.
void RepaintUnder(HWND control) {
    HWND dialog = ::GetParent(control);
    RECT r{};
    ::GetWindowRect(control, &r);
    ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    ::RedrawWindow(dialog, &r, nullptr,
                   RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

class ProgressStatics final : public ui::IDownloadProgressView {
public:
    ProgressStatics(HWND received, HWND total, HWND bar, HWND note, HWND speed)
        : m_received(received), m_total(total), m_bar(bar), m_note(note), m_speed(speed) {}

    void SetReceivedText(const std::string& text) override {
        ::SetWindowTextW(m_received, win32::Wide(text).c_str());
        RepaintUnder(m_received);
    }
    void PlaceTotal(int offset) override {
        RECT r{};
        ::GetWindowRect(m_received, &r);
        ::MapWindowPoints(nullptr, ::GetParent(m_received), reinterpret_cast<POINT*>(&r), 2);
        ::SetWindowPos(m_total, nullptr, r.left + offset, r.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    }
    void SetTotalText(const std::string& text) override {
        ::SetWindowTextW(m_total, win32::Wide(text).c_str());
        RepaintUnder(m_total);
    }
    void SetFilePosition(std::uint32_t position) override {
        ::SendMessageW(m_bar, PBM_SETPOS, position, 0);
    }
    void ShowNote() override {
        if (!::IsWindowVisible(m_note)) ::ShowWindow(m_note, SW_SHOWNORMAL);
    }
    void SetSpeedText(const std::string& text) override {
        ::SetWindowTextW(m_speed, win32::Wide(text).c_str());
        RepaintUnder(m_speed);
        ::ShowWindow(m_speed, text.empty() ? SW_HIDE : SW_SHOWNA);
    }

private:
    HWND m_received, m_total, m_bar, m_note, m_speed;
};

constexpr int kFaceOrder[] = {kIdRegister, kIdHome,      kIdPay,   kIdForum, kIdService,
                              kIdSettings, kIdStartIdle, kIdStart, kIdExit};

}  // namespace

CForeDialog::CForeDialog(HWND hParent)
    : CForeDialogBase(kTemplateId, hParent),
      m_progress(SystemClock()),
      m_stop(std::make_shared<StopFlag>()) {
    m_hIcon = static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(128),
                                              IMAGE_ICON, ::GetSystemMetrics(SM_CXICON),
                                              ::GetSystemMetrics(SM_CYICON), 0));
    // The amounts: 6 pixels a character, which the placing of the total
    // after the received amount counts on.
    m_hAmountFont = ::CreateFontW(-12, 6, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                  OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                  FIXED_PITCH | FF_MODERN, L"Courier New");
    m_hSmallFont = ::CreateFontW(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                 OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                 DEFAULT_PITCH | FF_SWISS, L"MS Shell Dlg");
    m_hLinkFont = ::CreateFontW(-13, 0, 0, 0, FW_NORMAL, FALSE, TRUE, FALSE, DEFAULT_CHARSET,
                                OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                DEFAULT_PITCH | FF_SWISS, L"MS Shell Dlg");
}

CForeDialog::~CForeDialog() {
    StopWorker();
    if (m_owner) m_owner->Detach();
    // A worker inside SendMessage to us needs this thread to answer it (with
    // nothing, we are detached) before it can see the stop flag.
    const auto deadline = std::chrono::steady_clock::now() + ui::WorkerThread::kDefaultJoin;
    while (m_run.Started() && !m_run.Finished() && std::chrono::steady_clock::now() < deadline) {
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_SENDMESSAGE);
        MSG msg;
        ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    m_run.JoinFor(std::chrono::milliseconds(0));
    if (m_hAmountFont) ::DeleteObject(m_hAmountFont);
    if (m_hLinkFont) ::DeleteObject(m_hLinkFont);
    if (m_hSmallFont) ::DeleteObject(m_hSmallFont);
    if (m_hIcon) ::DestroyIcon(m_hIcon);
    if (m_hPaneBrush) ::DeleteObject(m_hPaneBrush);
}

CBitmapButton* CForeDialog::Button(int controlId) {
    for (size_t i = 0; i < m_buttons.size(); ++i)
        if (kFaceOrder[i] == controlId) return &m_buttons[i];
    return nullptr;
}

BOOL CForeDialog::OnInitDialog() {
    MakeKeyedLayer();
    PlaceControls(ui::MainDialogTemplate());
    for (size_t i = 0; i < m_buttons.size(); ++i) m_buttons[i].Attach(GetDlgItem(kFaceOrder[i]));
    m_progressFile.Attach(GetDlgItem(kIdProgressFile));
    m_progressTotal.Attach(GetDlgItem(kIdProgressTotal));
    for (int id : {kIdStaticReceived, kIdStaticNote, kIdStaticTotal})
        ::SendMessageW(GetDlgItem(id), WM_SETFONT, reinterpret_cast<WPARAM>(m_hAmountFont), FALSE);
    m_hSpeed = CreateStatusLine(ui::SpeedLineTemplate(), SS_RIGHT);
    m_hReason = CreateStatusLine(ui::ReasonLineTemplate(), SS_LEFT);

    // One launcher at a time. A second one closes at once and starts nothing.
    if (!m_run.LockInstance(kLauncherLockName)) {
        OnOK();
        return TRUE;
    }

    ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    if (HWND parent = GetParent())
        ::SendMessageW(parent, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));

    // The engine's surroundings exist before anything may want to report.
    m_owner = std::make_shared<WinOwnerAdapter>(*this, m_hWnd, m_stop);
    m_run.Prepare({.deployment = m_deployment,
                   .applicationName = win32::Utf8(ApplicationName()),
                   .messageBoxes = std::make_shared<WinMessageBoxes>(m_stop),
                   .stop = m_stop,
                   .maxBytesPerSecond = ui::ReadMaxRateSetting()});

    // The news page in the system's web browser control over the pane; where
    // the system has none, the pane shows the page's address, which opens in
    // the player's browser.
    m_strNewsUrl = ui::NewsAddress(m_deployment);
    HWND news = GetDlgItem(kIdBrowser);
    RECT pane{};
    ::GetWindowRect(news, &pane);
    ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&pane), 2);
    HRESULT failure = S_OK;
    if (m_browser.Create(m_hWnd, pane, failure)) {
        ::ShowWindow(news, SW_HIDE);
        m_browser.Navigate(m_strNewsUrl, ui::NewsErrorPage(m_strNewsUrl));
    } else {
        std::fprintf(stderr, "news pane: no web browser control (0x%08lx)\n",
                     static_cast<unsigned long>(failure));
        ShowNewsLink();
    }

    StartWorker();

    // Faces and visibility. The worker's first calls wait for this thread,
    // so these always come before the engine shows anything.
    for (const ui::ButtonFaces& faces : ui::MainDialogFaces()) {
        if (CBitmapButton* button = Button(faces.buttonId))
            button->LoadBitmaps(faces.normal, faces.selected, faces.focused, faces.disabled);
        if (faces.buttonId == kIdStart) ::ShowWindow(GetDlgItem(kIdStart), SW_HIDE);
    }
    ::ShowWindow(GetDlgItem(kIdStaticDone), SW_HIDE);
    ::ShowWindow(GetDlgItem(kIdStaticVersion), SW_HIDE);
    return TRUE;
}

void CForeDialog::ShowNewsLink() {
    std::fprintf(stderr, "news pane: showing the link\n");
    HWND news = GetDlgItem(kIdBrowser);
    ::SendMessageW(news, WM_SETFONT, reinterpret_cast<WPARAM>(m_hLinkFont), FALSE);
    ::SetWindowTextW(news, win32::Wide(m_strNewsUrl).c_str());
    ::ShowWindow(news, SW_SHOWNORMAL);
}

bool CForeDialog::PreTranslateMessage(MSG& msg) {
    return m_browser.TranslateAccelerator(msg);
}

HWND CForeDialog::CreateStatusLine(const ui::ControlTemplate& control, DWORD align) {
    const ui::PixelRect r = ui::MainDialogTemplate().Map(control);
    HWND line = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | align, r.left, r.top, r.width,
                                  r.height, m_hWnd, reinterpret_cast<HMENU>(
                                      static_cast<INT_PTR>(control.id)),
                                  ::GetModuleHandleW(nullptr), nullptr);
    // Last among the children, so the template's order of them stays as it was.
    ::SetWindowPos(line, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    ::SendMessageW(line, WM_SETFONT, reinterpret_cast<WPARAM>(m_hSmallFont), FALSE);
    return line;
}

void CForeDialog::ShowFailureNotice() {
    if (m_noticeShown || !m_run.Started() || !m_run.Finished()) return;
    m_noticeShown = true;
    const std::string text =
        m_repairing ? ui::RepairNoticeText(IndexSummary(), FailureReason(), m_run.LogPath())
                    : ui::FailureNoticeText(FailureReason(), m_run.LogPath());
    if (text.empty()) return;
    ::ShowWindow(m_hSpeed, SW_HIDE);
    ::SetWindowTextW(m_hReason, win32::Wide(text).c_str());
    ::ShowWindow(m_hReason, SW_SHOWNA);
    RepaintUnder(m_hReason);
}

void CForeDialog::StartWorker() {
    ::SetTimer(m_hWnd, WinOwnerAdapter::kDrainTimer, WinOwnerAdapter::kDrainIntervalMs, nullptr);
    m_run.Start(m_owner);
}

void CForeDialog::StopWorker() {
    // Never waits: the worker sees the flag at its next step, its transfer
    // aborts, and every later call of it on this dialog does nothing.
    m_stop->RequestStop();
}

void CForeDialog::OnCancel() {
    StopWorker();
    CForeDialogBase::OnCancel();
}

void CForeDialog::OnClose() {
    StopWorker();
    // As the dialog manager does with WM_CLOSE: a cancel command.
    ::PostMessageW(m_hWnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
}

void CForeDialog::ShowControl(int controlId, int showCommand) {
    if (HWND item = GetDlgItem(controlId))
        ::ShowWindow(item, showCommand == kSwHide ? SW_HIDE : SW_SHOWNORMAL);
}

void CForeDialog::SetControlText(int controlId, const std::string& text) {
    if (HWND item = GetDlgItem(controlId)) {
        ::SetWindowTextW(item, win32::Wide(text).c_str());
        RepaintUnder(item);
    }
}

void CForeDialog::SendMessageTo(int controlId, unsigned message, std::uint32_t wParam,
                                std::uint32_t lParam) {
    if (message == kWmDownloadProgress) {
        OnDownloadProgress(wParam, lParam);
        return;
    }
    if (HWND item = GetDlgItem(controlId)) ::SendMessageW(item, message, wParam, lParam);
}

int CForeDialog::OnDownloadProgress(std::uint32_t wParam, std::uint32_t lParam) {
    ProgressStatics view(GetDlgItem(kIdStaticReceived), GetDlgItem(kIdStaticTotal),
                         GetDlgItem(kIdProgressFile), GetDlgItem(kIdStaticNote), m_hSpeed);
    return m_progress.OnDownloadProgress(wParam, lParam, view);
}

void CForeDialog::OnStartGame() {
    const ui::StartGameDecision decision =
        ui::DecideStartGame(g_nLaunchBlock, g_bFullScreen, g_strResolution);
    if (!decision.notice.empty())
        ::MessageBoxW(m_hWnd, win32::Wide(decision.notice).c_str(), ApplicationName().c_str(),
                      MB_OK | MB_ICONEXCLAMATION);
    if (!decision.start) return;
    StopWorker();
    CloseParent();
    CDialog::OnCancel();
    // Last: the game starts once the launcher's windows are closed.
    StartProgram(kGameProgram, {decision.parameters});
}

void CForeDialog::OnSettings() {
    // Owned by the background, and this layer disabled meanwhile, so nothing
    // but the settings takes input while they are open.
    ::EnableWindow(m_hWnd, FALSE);
    CGameSet dialog(GetParent());
    const INT_PTR chosen = dialog.DoModal();
    ::EnableWindow(m_hWnd, TRUE);
    ::SetActiveWindow(m_hWnd);
    if (chosen == ui::kRepairChosen) OnRepair();
}

void CForeDialog::OnRepair() {
    if (!m_run.Started() || !m_run.Finished()) {
        ::MessageBoxW(m_hWnd, win32::Wide(ui::kRepairWhileUpdating).c_str(),
                      ApplicationName().c_str(), MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    // Back to the updating face until the run ends; the gate closes with it.
    for (int id : {kIdStaticDone, kIdStart}) ::ShowWindow(GetDlgItem(id), SW_HIDE);
    for (int id : {kIdStaticUpdating, kIdStartIdle}) ::ShowWindow(GetDlgItem(id), SW_SHOWNORMAL);
    ::ShowWindow(m_hReason, SW_HIDE);
    RepaintUnder(m_hReason);
    m_repairing = true;
    m_noticeShown = false;
    m_run.StartRepair(m_owner);
}

void CForeDialog::OpenAddress(const std::string& address) {
    if (address.empty()) return;
    ::ShellExecuteW(nullptr, L"open", win32::Wide(address).c_str(), nullptr, nullptr,
                    SW_SHOWNORMAL);
}

bool CForeDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
    switch (message) {
        case WM_TIMER:
            if (wParam != WinOwnerAdapter::kDrainTimer) return false;
            [[fallthrough]];
        case WinOwnerAdapter::kWmEngineCalls:
            if (m_owner) m_owner->Drain();
            ShowFailureNotice();
            result = 0;
            return true;
        case WM_DRAWITEM: {
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            if (CBitmapButton* button = Button(static_cast<int>(wParam))) {
                button->DrawItem(*item);
                result = TRUE;
                return true;
            }
            return false;
        }
        case WM_CTLCOLORSTATIC: {
            // White text without a background of its own. The news link fills
            // its pane: on the key colour every pixel but the glyphs would let
            // the click through to the background.
            HDC dc = reinterpret_cast<HDC>(wParam);
            ::SetBkMode(dc, TRANSPARENT);
            const bool link = reinterpret_cast<HWND>(lParam) == GetDlgItem(kIdBrowser);
            ::SetTextColor(dc, link ? RGB(143, 179, 217) : RGB(255, 255, 255));
            result = reinterpret_cast<INT_PTR>(link ? m_hPaneBrush
                                                    : ::GetStockObject(NULL_BRUSH));
            return true;
        }
        case WM_SETCURSOR:
            if (reinterpret_cast<HWND>(wParam) == GetDlgItem(kIdBrowser)) {
                ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
                result = TRUE;
                return true;
            }
            return false;
        case CWebBrowserHost::kWmBrowserUnusable:
            m_browser.Close();
            ShowNewsLink();
            result = 0;
            return true;
        case WM_DESTROY:
            m_browser.Close();  // while its parent window is still there
            return false;
        case WM_CLOSE:
            OnClose();
            result = 0;
            return true;
        case WM_COMMAND: {
            const int id = LOWORD(wParam);
            const int code = HIWORD(wParam);
            if (code != BN_CLICKED) break;  // STN_CLICKED is BN_CLICKED's 0 too
            switch (id) {
                case kIdStart:  // IDOK, Enter included
                    OnStartGame();
                    return true;
                case kIdSettings:
                    OnSettings();
                    return true;
                case kIdBrowser:
                    OpenAddress(m_strNewsUrl);
                    return true;
                case kIdRegister:
                case kIdHome:
                case kIdPay:
                case kIdForum:
                case kIdService:
                    OpenAddress(ui::PageAddress(m_deployment, id));
                    return true;
                case kIdStartIdle:
                    return true;  // the inactive face has no command
                default:
                    break;
            }
            break;
        }
        default:
            break;
    }
    return CForeDialogBase::OnMessage(message, wParam, lParam, result);
}

}  // namespace launcher::win
