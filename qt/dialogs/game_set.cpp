#include "qt/dialogs/game_set.h"

#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

#include "qt/dialogs/resources.h"
#include "window/dialog_template.h"
#include "window/repair_request.h"

namespace launcher {

namespace {

// A drop-down list without an edit field: the player chooses with the mouse
// or the arrow keys. Typed characters are dropped instead of searched for, so
// nothing typed ever becomes a choice.
class ResolutionList : public QComboBox {
public:
    using QComboBox::QComboBox;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        const QString text = event->text();
        if (!text.isEmpty() && text.at(0).isPrint() && !text.at(0).isSpace()) {
            event->accept();
            return;
        }
        QComboBox::keyPressEvent(event);
    }
};

}  // namespace

CGameSet::CGameSet(QWidget* parent) : QDialog(parent) {
    ui::InitLauncherResources();
    const ui::DialogTemplate& t = ui::GameSetTemplate();
    setWindowTitle(QString::fromUtf8(t.caption));
    const ui::PixelRect size = ui::MapDialogRect(0, 0, t.cx, t.cy, t.units);
    setFixedSize(size.width, size.height);
    QFont font(QStringLiteral("Noto Sans CJK SC"));
    font.setPixelSize(12);
    setFont(font);

    for (const ui::ControlTemplate& control : t.controls) {
        const ui::PixelRect r = t.Map(control);
        QWidget* widget = nullptr;
        const QString text = QString::fromUtf8(control.text);
        switch (control.kind) {
            case ui::ControlKind::kPushButton:
            case ui::ControlKind::kDefPushButton: {
                auto* button = new QPushButton(text, this);
                button->setDefault(control.kind == ui::ControlKind::kDefPushButton);
                button->setAutoDefault(false);
                m_items[control.id - 1] = button;
                if (control.id == 1)
                    connect(button, &QPushButton::clicked, this, &QDialog::accept);
                else
                    connect(button, &QPushButton::clicked, this, [this] { reject(); });
                widget = button;
                break;
            }
            case ui::ControlKind::kGroupBox:
                widget = new QGroupBox(text, this);
                break;
            case ui::ControlKind::kStatic:
                widget = new QLabel(text, this);
                break;
            case ui::ControlKind::kComboBox: {
                auto* combo = new ResolutionList(this);
                combo->setMaxVisibleItems(static_cast<int>(kResolutions.size()));
                (control.id == kIdFullScreen ? m_comboFullScreen : m_comboWindowed) = combo;
                // The template's height is the open list's; closed, the box
                // is as tall as its font wants.
                combo->setGeometry(r.left, r.top, r.width, combo->sizeHint().height());
                widget = combo;
                break;
            }
            default:
                continue;
        }
        if (control.kind != ui::ControlKind::kComboBox)
            widget->setGeometry(r.left, r.top, r.width, r.height);
    }
    // The launcher's own addition: the repair, which ends the dialog with its
    // own result for the launcher's window to act on.
    const ui::ControlTemplate& repair = ui::RepairButtonTemplate();
    auto* repairButton = new QPushButton(QString::fromUtf8(repair.text), this);
    repairButton->setAutoDefault(false);
    const ui::PixelRect place = t.Map(repair);
    repairButton->setGeometry(place.left, place.top, place.width, place.height);
    connect(repairButton, &QPushButton::clicked, this, [this] { done(ui::kRepairChosen); });
    m_btnRepair = repairButton;

    // The group box was made before the boxes it frames: keep it beneath them.
    for (QGroupBox* frame : findChildren<QGroupBox*>()) frame->lower();
    // Tab order as in the template.
    setTabOrder(m_items[0], m_items[1]);
    setTabOrder(m_items[1], m_comboFullScreen);
    setTabOrder(m_comboFullScreen, m_comboWindowed);
    setTabOrder(m_comboWindowed, m_btnRepair);

    // Only the user's choices count: activated is not sent for a selection the
    // program makes.
    connect(m_comboFullScreen, &QComboBox::activated, this, &CGameSet::OnSelChangeFullScreen);
    connect(m_comboWindowed, &QComboBox::activated, this, &CGameSet::OnSelChangeWindowed);
    OnInitDialog();
}

QWidget* CGameSet::GetDlgItem(int controlId) const {
    switch (controlId) {
        case 1:
            return m_items[0];
        case 2:
            return m_items[1];
        case kIdFullScreen:
            return m_comboFullScreen;
        case kIdWindowed:
            return m_comboWindowed;
        case ui::kIdRepair:
            return m_btnRepair;
        default:
            return nullptr;
    }
}

bool CGameSet::OnInitDialog() {
    for (QComboBox* combo : {m_comboFullScreen, m_comboWindowed}) {
        for (const char* text : kResolutions) combo->addItem(QString::fromLatin1(text));
        // Sorted lists; the texts are in ascending order already.
        combo->model()->sort(0);
        combo->setCurrentIndex(-1);
    }
    // The full-screen box shows nothing, whatever was chosen before.
    m_comboWindowed->setCurrentIndex(0);
    return true;
}

void CGameSet::OnSelChangeFullScreen() {
    g_bFullScreen = 1;
    g_strResolution = m_comboFullScreen->itemText(m_comboFullScreen->currentIndex()).toStdString();
}

void CGameSet::OnSelChangeWindowed() {
    g_bFullScreen = 0;
    g_strResolution = m_comboWindowed->itemText(m_comboWindowed->currentIndex()).toStdString();
}

void CGameSet::OnCancelSettings() {
    g_strResolution = m_comboFullScreen->itemText(0).toStdString();
    QDialog::reject();
}

}  // namespace launcher
