#include "qt/dialogs/fore_dialog.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QUrl>

#include "engine/file_index_run.h"
#include "engine/game_command_line.h"
#include "engine/globals.h"
#include "engine/my_fun.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "platform/stop_flag.h"
#include "qt/dialogs/bench_report.h"
#include "qt/dialogs/bitmap_button.h"
#include "qt/dialogs/explorer.h"
#include "qt/dialogs/game_set.h"
#include "qt/dialogs/owner_adapter.h"
#include "qt/dialogs/progress_ctrl.h"
#include "qt/dialogs/qt_message_boxes.h"
#include "qt/dialogs/resources.h"
#include "window/dialog_template.h"
#include "window/display_choice.h"
#include "window/launch_gate.h"
#include "window/page_links.h"
#include "window/repair_request.h"
#include "window/status_lines.h"
#include "window/window_settings.h"

namespace launcher {

using ui::CBitmapButton;
using ui::CProgressCtrl;

namespace {

// The statics have no background of their own: white text on the picture.
// The amounts use a font whose Latin characters are exactly 6 pixels wide,
// which the placing of the total amount after the received one relies on.
void StyleStatic(QLabel* label, const ui::ControlTemplate& control) {
    const bool amount = control.id == kIdStaticReceived || control.id == kIdStaticTotal ||
                        control.id == kIdStaticNote;
    QFont font(amount ? QStringLiteral("Noto Sans Mono CJK SC")
                      : QStringLiteral("Noto Sans CJK SC"));
    font.setPixelSize(12);
    font.setStyleHint(amount ? QFont::Monospace : QFont::SansSerif);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::white);
    label->setPalette(palette);
    label->setAutoFillBackground(false);
    label->setAttribute(Qt::WA_TranslucentBackground);
    Qt::Alignment align = Qt::AlignTop;
    switch (control.align) {
        case ui::TextAlign::kLeft:
            align |= Qt::AlignLeft;
            break;
        case ui::TextAlign::kCenter:
            align |= Qt::AlignHCenter;
            break;
        case ui::TextAlign::kRight:
            align |= Qt::AlignRight;
            break;
    }
    label->setAlignment(align);
    label->setTextFormat(Qt::PlainText);
}

// The speed and reason lines: small text, the reason wrapped over two lines.
QLabel* StatusLine(QWidget* parent, const ui::DialogTemplate& t, const ui::ControlTemplate& control) {
    auto* label = new QLabel(parent);
    StyleStatic(label, control);
    QFont font = label->font();
    font.setPixelSize(11);
    label->setFont(font);
    label->setWordWrap(control.id == ui::kIdStaticReason);
    const ui::PixelRect r = t.Map(control);
    label->setGeometry(r.left, r.top, r.width, r.height);
    label->hide();
    return label;
}

// The controls a progress message changes, as this window has them.
class ProgressStatics final : public ui::IDownloadProgressView {
public:
    ProgressStatics(QLabel* received, QLabel* total, CProgressCtrl* bar, QWidget* note,
                    QLabel* speed)
        : m_received(received), m_total(total), m_bar(bar), m_note(note), m_speed(speed) {}

    void SetReceivedText(const std::string& text) override {
        m_received->setText(QString::fromStdString(text));
    }
    void PlaceTotal(int offset) override {
        const QRect r = m_received->geometry();
        m_total->move(r.left() + offset, r.top());
    }
    void SetTotalText(const std::string& text) override {
        m_total->setText(QString::fromStdString(text));
    }
    void SetFilePosition(std::uint32_t position) override { m_bar->SetPos(position); }
    void ShowNote() override {
        if (m_note->isHidden()) m_note->show();
    }
    void SetSpeedText(const std::string& text) override {
        m_speed->setText(QString::fromStdString(text));
        m_speed->setVisible(!text.empty());
    }

private:
    QLabel* m_received;
    QLabel* m_total;
    CProgressCtrl* m_bar;
    QWidget* m_note;
    QLabel* m_speed;
};

}  // namespace

CForeDialog::CForeDialog(QWidget* pParent, ForeDialogSettings settings)
    : CForeDialogBase(kTemplateId, pParent),
      m_settings(std::move(settings)),
      m_clock(m_settings.tick ? *m_settings.tick : SystemClock()),
      m_progress(m_clock),
      m_stop(std::make_shared<StopFlag>()) {
    ui::InitLauncherResources();
    m_hIcon = ui::LauncherIcon();
    setWindowTitle(QString::fromUtf8(ui::MainDialogTemplate().caption));
    CreateControls();
}

CForeDialog::~CForeDialog() {
    StopWorker();
    if (m_owner) m_owner->Detach();
    m_run.JoinFor(ui::WorkerThread::kDefaultJoin);
}

void CForeDialog::CreateControls() {
    const ui::DialogTemplate& t = ui::MainDialogTemplate();
    const ui::PixelRect size = ui::MapDialogRect(0, 0, t.cx, t.cy, t.units);
    resize(size.width, size.height);
    for (const ui::ControlTemplate& control : t.controls) {
        QWidget* widget = nullptr;
        switch (control.kind) {
            case ui::ControlKind::kBitmapButton: {
                auto* button = new CBitmapButton(this);
                button->setText(QString::fromUtf8(control.text));
                widget = button;
                break;
            }
            case ui::ControlKind::kProgress:
                widget = new CProgressCtrl(this);
                break;
            case ui::ControlKind::kBrowser:
                widget = new ui::CExplorer1(this);
                break;
            case ui::ControlKind::kStatic: {
                auto* label = new QLabel(QString::fromUtf8(control.text), this);
                StyleStatic(label, control);
                widget = label;
                break;
            }
            default:
                continue;  // not in this template
        }
        const ui::PixelRect r = t.Map(control);
        widget->setGeometry(r.left, r.top, r.width, r.height);
        widget->setVisible(control.visible);
        if (control.id != ui::kNoId) m_items[control.id] = widget;
    }

    m_staticSpeed = StatusLine(this, t, ui::SpeedLineTemplate());
    m_staticReason = StatusLine(this, t, ui::ReasonLineTemplate());
    m_items[ui::kIdStaticSpeed] = m_staticSpeed;
    m_items[ui::kIdStaticReason] = m_staticReason;
    // A failed run's reason is shown once the worker has ended.
    m_noticeTimer.setInterval(250);
    connect(&m_noticeTimer, &QTimer::timeout, this, &CForeDialog::ShowFailureNotice);

    // The members the dialog works with (DDX_Control).
    auto button = [this](int id) { return static_cast<CBitmapButton*>(m_items.at(id)); };
    auto label = [this](int id) { return static_cast<QLabel*>(m_items.at(id)); };
    m_wndBrowser = static_cast<ui::CExplorer1*>(m_items.at(kIdBrowser));
    m_progressFile = static_cast<CProgressCtrl*>(m_items.at(kIdProgressFile));
    m_progressTotal = static_cast<CProgressCtrl*>(m_items.at(kIdProgressTotal));
    m_btnStart = button(kIdStart);
    m_btnExit = button(kIdExit);
    m_btnRegister = button(kIdRegister);
    m_btnSettings = button(kIdSettings);
    m_btnStartIdle = button(kIdStartIdle);
    m_staticUpdating = label(kIdStaticUpdating);
    m_staticDone = label(kIdStaticDone);
    m_staticVersion = label(kIdStaticVersion);
    m_staticReceived = label(kIdStaticReceived);
    m_btnHome = button(kIdHome);
    m_btnPay = button(kIdPay);
    m_btnForum = button(kIdForum);
    m_btnService = button(kIdService);

    // The message map.
    connect(m_btnStart, &QAbstractButton::clicked, this, &CForeDialog::OnStartGame);
    connect(m_btnExit, &QAbstractButton::clicked, this, [this] { OnCancel(); });
    connect(m_btnSettings, &QAbstractButton::clicked, this, &CForeDialog::OnSettings);
    connect(m_btnRegister, &QAbstractButton::clicked, this, &CForeDialog::OnOpenLoginPage);
    connect(m_btnHome, &QAbstractButton::clicked, this, &CForeDialog::OnOpenHomePage);
    connect(m_btnPay, &QAbstractButton::clicked, this, &CForeDialog::OnOpenPaymentPage);
    connect(m_btnForum, &QAbstractButton::clicked, this, &CForeDialog::OnOpenForumPage);
    connect(m_btnService, &QAbstractButton::clicked, this, &CForeDialog::OnOpenServicePage);
}

QWidget* CForeDialog::GetDlgItem(int controlId) const {
    auto it = m_items.find(controlId);
    return it == m_items.end() ? nullptr : it->second;
}

bool CForeDialog::OnInitDialog() {
    MakeKeyedLayer();

    // One launcher at a time. A second one closes at once and starts nothing;
    // a lock that cannot be taken at all is told before the window closes.
    if (!m_run.LockInstance(m_settings.instanceName)) {
        const std::string failure = m_run.LockFailure();
        m_bSecondInstance = failure.empty();
        if (!m_bSecondInstance) Notice(QString::fromStdString(failure));
        OnOK();
        return true;
    }

    window()->setWindowIcon(m_hIcon);

    // The engine's surroundings exist before anything may want to report.
    m_owner = std::make_shared<ui::QtOwnerAdapter>(*this, m_stop);
    m_run.Prepare({.deployment = m_settings.deployment,
                   .applicationName = QCoreApplication::applicationName().toStdString(),
                   .messageBoxes = std::make_shared<ui::QtMessageBoxes>(m_stop),
                   .stop = m_stop,
                   .maxBytesPerSecond = ui::ReadMaxRateSetting()});

    m_strNewsUrl = QString::fromStdString(ui::NewsAddress(m_settings.deployment));
    m_wndBrowser->Navigate(m_strNewsUrl);

    m_bench = ui::BenchReport::FromEnvironment(
        {[this] { return m_run.Finished(); }, [] { return g_nLaunchBlock == 0; },
         [this] {
             QMetaObject::invokeMethod(
                 this, [this] { OnCancel(); }, Qt::QueuedConnection);
         }});
    StartWorker();

    // Faces and visibility. The worker's first calls wait for the event loop,
    // so these always come before the engine shows anything.
    for (const ui::ButtonFaces& faces : ui::MainDialogFaces()) {
        auto* button = static_cast<CBitmapButton*>(m_items.at(faces.buttonId));
        button->LoadBitmaps(faces.normal, faces.selected, faces.focused, faces.disabled);
        if (faces.buttonId == kIdStart) m_btnStart->hide();
    }
    m_staticDone->hide();
    m_staticVersion->hide();
    return true;
}

void CForeDialog::StartWorker() {
    m_run.Start(m_owner);
    m_noticeTimer.start();
}

void CForeDialog::ShowFailureNotice() {
    if (!m_run.Finished()) return;
    m_noticeTimer.stop();
    const std::string text =
        m_bRepairing ? ui::RepairNoticeText(IndexSummary(), FailureReason(), m_run.LogPath())
                     : ui::FailureNoticeText(FailureReason(), m_run.LogPath());
    if (text.empty()) return;
    m_staticSpeed->hide();
    m_staticReason->setText(QString::fromStdString(text));
    m_staticReason->show();
}

void CForeDialog::StopWorker() {
    // Never waits: the worker sees the flag at its next step, its transfer
    // aborts, and every later call of it on this dialog does nothing.
    if (m_owner)
        m_owner->Stop();
    else
        m_stop->RequestStop();
}

void CForeDialog::OnCancel() {
    StopWorker();
    CloseParent();
    QDialog::reject();
}

void CForeDialog::OnClose() {
    StopWorker();
    // As the dialog manager does: the close becomes a cancel command.
    QMetaObject::invokeMethod(
        this, [this] { OnCancel(); }, Qt::QueuedConnection);
}

void CForeDialog::closeEvent(QCloseEvent* event) {
    OnClose();
    event->ignore();
}

void CForeDialog::keyPressEvent(QKeyEvent* event) {
    // Enter is the dialog's OK command, which is the Start button's.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        OnStartGame();
        return;
    }
    CForeDialogBase::keyPressEvent(event);
}

void CForeDialog::ShowControl(int controlId, int showCommand) {
    if (QWidget* item = GetDlgItem(controlId)) item->setVisible(showCommand != kSwHide);
}

void CForeDialog::SetControlText(int controlId, const std::string& text) {
    QWidget* item = GetDlgItem(controlId);
    if (auto* label = qobject_cast<QLabel*>(item))
        label->setText(QString::fromStdString(text));
    else if (auto* button = qobject_cast<QAbstractButton*>(item))
        button->setText(QString::fromStdString(text));
}

void CForeDialog::SendMessageTo(int controlId, unsigned message, std::uint32_t wParam,
                                std::uint32_t lParam) {
    if (message == kWmDownloadProgress) {
        if (m_bench) m_bench->OnProgress(wParam, lParam);
        OnDownloadProgress(wParam, lParam);
        return;
    }
    auto* bar = qobject_cast<CProgressCtrl*>(GetDlgItem(controlId));
    if (!bar) return;
    switch (message) {
        case kPbmSetPos:
            bar->SetPos(wParam);
            break;
        case kPbmSetRange32:
            bar->SetRange32(wParam, lParam);
            break;
        case kPbmSetBkColor:
            bar->SetBkColor(lParam);
            break;
        case kPbmSetBarColor:
            bar->SetBarColor(lParam);
            break;
        default:
            break;
    }
}

int CForeDialog::OnDownloadProgress(std::uint32_t wParam, std::uint32_t lParam) {
    ProgressStatics view(m_staticReceived, static_cast<QLabel*>(GetDlgItem(kIdStaticTotal)),
                         m_progressFile, GetDlgItem(kIdStaticNote), m_staticSpeed);
    return m_progress.OnDownloadProgress(wParam, lParam, view);
}

void CForeDialog::Notice(const QString& text) {
    // The application's own notices: the program's name as caption and the
    // exclamation mark the framework adds to a plain OK box.
    QMessageBox box(QMessageBox::Warning, QCoreApplication::applicationName(), text,
                    QMessageBox::Ok, window());
    box.exec();
}

void CForeDialog::OnStartGame() {
    const ui::StartGameDecision decision =
        ui::DecideStartGame(g_nLaunchBlock, g_bFullScreen, g_strResolution);
    if (!decision.notice.empty()) Notice(QString::fromStdString(decision.notice));
    if (!decision.start) return;
    StopWorker();
    CloseParent();
    QDialog::reject();
    // Last: the game starts once the launcher's windows are closed.
    StartProgram(kGameProgram, {decision.parameters});
}

void CForeDialog::OnSettings() {
    // Owned by the launcher's window: no minimise of its own (a minimised
    // modal dialog would leave the launcher blocked with nothing on screen),
    // no taskbar entry, always above the launcher.
    CGameSet dialog(window());
    if (dialog.exec() == ui::kRepairChosen) OnRepair();
}

void CForeDialog::OnRepair() {
    if (!m_run.Started() || !m_run.Finished()) {
        Notice(QString::fromUtf8(ui::kRepairWhileUpdating));
        return;
    }
    // Back to the updating face until the run ends; the gate closes with it.
    m_staticReason->hide();
    m_staticDone->hide();
    m_staticUpdating->show();
    m_btnStart->hide();
    m_btnStartIdle->show();
    m_bRepairing = true;
    if (m_run.StartRepair(m_owner)) m_noticeTimer.start();
}

void CForeDialog::OpenPage(int buttonId) {
    QDesktopServices::openUrl(
        QUrl(QString::fromStdString(ui::PageAddress(m_settings.deployment, buttonId))));
}

void CForeDialog::OnOpenLoginPage() {
    OpenPage(kIdRegister);
}
void CForeDialog::OnOpenHomePage() {
    OpenPage(kIdHome);
}
void CForeDialog::OnOpenPaymentPage() {
    OpenPage(kIdPay);
}
void CForeDialog::OnOpenForumPage() {
    OpenPage(kIdForum);
}
void CForeDialog::OnOpenServicePage() {
    OpenPage(kIdService);
}

}  // namespace launcher
