// The launcher's main dialog: the controls layer over the background picture.
// It starts the update (single-instance lock, decompressor, own version, news
// page, worker) and shows what the engine reports; every way of closing it
// stops the worker without waiting and closes the background, which ends the
// program.
#pragma once

#include <QIcon>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "engine/deployment.h"
#include "owner/engine_owner.h"
#include "qt/shell/fore_dialog_base.h"
#include "window/download_progress.h"
#include "window/engine_run.h"

class QLabel;

namespace launcher {

class IClock;
class StopFlag;

namespace ui {
class BenchReport;
class CBitmapButton;
class CExplorer1;
class CProgressCtrl;
class QtOwnerAdapter;
}  // namespace ui

inline constexpr const char* kInstanceName = "Brevane";

// What a main dialog is made with; the defaults are the program's own.
struct ForeDialogSettings {
    Deployment deployment = BuiltInDeployment();
    // Tick of the progress texts' refresh rule; the system clock when null.
    IClock* tick = nullptr;
    std::string instanceName = kInstanceName;
};

class CForeDialog : public CForeDialogBase, public IEngineOwner {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 102;

    explicit CForeDialog(QWidget* pParent, ForeDialogSettings settings = {});
    ~CForeDialog() override;

    bool OnInitDialog() override;
    // Exit, Escape, the engine after a launcher download (carried to this
    // thread by the adapter).
    void OnCancel() override;

    // The receiving side of the engine, on the interface thread.
    void ShowControl(int controlId, int showCommand) override;
    void SetControlText(int controlId, const std::string& text) override;
    void SendMessageTo(int controlId, unsigned message, std::uint32_t wParam,
                       std::uint32_t lParam) override;
    int OnDownloadProgress(std::uint32_t wParam, std::uint32_t lParam);

    void OnStartGame();
    void OnSettings();
    // The repair chosen in the settings dialog: a second engine run once the
    // first has ended.
    void OnRepair();
    void OnOpenLoginPage();
    void OnOpenHomePage();
    void OnOpenPaymentPage();
    void OnOpenForumPage();
    void OnOpenServicePage();

    QWidget* GetDlgItem(int controlId) const;
    const QString& NewsUrl() const { return m_strNewsUrl; }
    // The engine's view of this dialog: the thread-safe adapter (null before
    // the worker was started).
    std::shared_ptr<ui::QtOwnerAdapter> Owner() const { return m_owner; }
    bool WorkerStarted() const { return m_run.Started(); }
    bool WorkerFinished() const { return m_run.Finished(); }
    bool IsSecondInstance() const { return m_bSecondInstance; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void CreateControls();
    void StartWorker();
    // Shows a failed run's reason and the log once the worker has ended.
    void ShowFailureNotice();
    void StopWorker();
    void OnClose();
    void OpenPage(int buttonId);
    void Notice(const QString& text);

    ForeDialogSettings m_settings;
    IClock& m_clock;
    ui::EngineRun m_run;  // the worker (m_pWorkerThread) and what it uses
    QString m_strNewsUrl;
    QIcon m_hIcon;
    ui::CExplorer1* m_wndBrowser = nullptr;
    ui::CProgressCtrl* m_progressFile = nullptr;
    ui::CProgressCtrl* m_progressTotal = nullptr;
    ui::CBitmapButton* m_btnStart = nullptr;
    ui::CBitmapButton* m_btnExit = nullptr;
    ui::CBitmapButton* m_btnRegister = nullptr;
    ui::CBitmapButton* m_btnSettings = nullptr;
    ui::CBitmapButton* m_btnHome = nullptr;
    ui::CBitmapButton* m_btnPay = nullptr;
    ui::CBitmapButton* m_btnForum = nullptr;
    ui::CBitmapButton* m_btnService = nullptr;
    ui::CBitmapButton* m_btnStartIdle = nullptr;
    QLabel* m_staticUpdating = nullptr;
    QLabel* m_staticDone = nullptr;
    QLabel* m_staticVersion = nullptr;
    QLabel* m_staticReceived = nullptr;
    QLabel* m_staticSpeed = nullptr;   // speed and time left
    QLabel* m_staticReason = nullptr;  // a failed run's reason and the log
    QTimer m_noticeTimer;
    ui::DownloadProgress m_progress;  // the amount texts' refresh state

    std::map<int, QWidget*> m_items;
    std::shared_ptr<StopFlag> m_stop;
    std::shared_ptr<ui::QtOwnerAdapter> m_owner;
    std::unique_ptr<ui::BenchReport> m_bench;  // only with LAUNCHER_BENCH_REPORT set
    bool m_bSecondInstance = false;
    bool m_bRepairing = false;
};

}  // namespace launcher
