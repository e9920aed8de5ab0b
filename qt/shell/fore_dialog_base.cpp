#include "qt/shell/fore_dialog_base.h"

#include <QMouseEvent>

namespace launcher {

CForeDialogBase::CForeDialogBase(int nIDTemplate, QWidget* pParent)
    : QDialog(pParent), m_nIDTemplate(nIDTemplate) {}

CForeDialogBase::~CForeDialogBase() = default;

void CForeDialogBase::CreateOverParent() {
    OnInitDialog();
    if (QWidget* parent = parentWidget()) setGeometry(parent->rect());
    raise();
    show();
}

bool CForeDialogBase::OnInitDialog() {
    MakeKeyedLayer();
    return true;
}

void CForeDialogBase::MakeKeyedLayer() {
    // A child, not a window of its own: it moves, hides and dies with the
    // background, and has no taskbar entry.
    if (parentWidget()) setWindowFlags(Qt::Widget);
    setAutoFillBackground(false);
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_NoSystemBackground);
}

void CForeDialogBase::CloseParent() {
    if (QWidget* parent = parentWidget()) parent->close();
}

void CForeDialogBase::OnOK() {
    CloseParent();
    QDialog::accept();
}

void CForeDialogBase::OnCancel() {
    CloseParent();
    QDialog::reject();
}

void CForeDialogBase::mousePressEvent(QMouseEvent* event) {
    // Nothing of ours is under the pointer: the key colour. The press belongs to
    // the background, which Qt delivers it to when we ignore it.
    event->ignore();
}

}  // namespace launcher
