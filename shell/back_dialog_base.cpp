#include "shell/back_dialog_base.h"

#include <QBitmap>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWindow>

#include "shell/fore_dialog_base.h"

namespace launcher {

CBackDialogBase::CBackDialogBase(int nPngId)
    : QDialog(nullptr, Qt::Window | Qt::FramelessWindowHint),
      m_pImage(std::make_unique<QImage>(QStringLiteral(":/png/%1.png").arg(nPngId))) {
    // The window system blends with premultiplied colours; convert once here so
    // that every paint is a plain copy.
    if (!m_pImage->isNull())
        *m_pImage = m_pImage->convertToFormat(QImage::Format_ARGB32_Premultiplied);
    // Before the native window exists: it must get an alpha channel.
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_NoSystemBackground);
    setWindowTitle(QStringLiteral("自动更新"));
}

CBackDialogBase::~CBackDialogBase() {
    // The controls layer is also a Qt child; deleting it here first keeps the
    // order the layers were made in, and Qt forgets the child.
    delete m_pForeDialog;
    m_pForeDialog = nullptr;
}

int CBackDialogBase::exec() {
    if (!m_bCreated) OnCreate();
    // A closing path (a second launcher) may have ended us while we were made.
    if (m_bEnded) return result();
    return QDialog::exec();
}

void CBackDialogBase::setVisible(bool visible) {
    if (visible && !m_bCreated) {
        OnCreate();
        if (m_bEnded) return;
    }
    QDialog::setVisible(visible);
}

void CBackDialogBase::done(int result) {
    m_bEnded = true;
    QDialog::done(result);
}

void CBackDialogBase::OnCreate() {
    m_bCreated = true;
    m_pForeDialog = CreateForeDialog();
    if (m_pForeDialog) m_pForeDialog->CreateOverParent();
    if (!m_bEnded) OnInitDialog();
}

bool CBackDialogBase::OnInitDialog() {
    if (m_pForeDialog) m_pForeDialog->resize(m_pImage->size());
    RenderBackground();
    // Centre the picture on the screen (the window has the picture's size now).
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(0, 0), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    return true;
}

void CBackDialogBase::RenderBackground() {
    if (m_pImage->isNull()) return;  // nothing to show, as with an undecodable picture
    setFixedSize(m_pImage->size());
    // The outline also where no compositor blends: a window shape from alpha.
    setMask(QBitmap::fromImage(m_pImage->createAlphaMask()));
    update();
}

void CBackDialogBase::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(0, 0, *m_pImage);
}

void CBackDialogBase::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    FollowWithForeDialog();
}

void CBackDialogBase::FollowWithForeDialog() {
    if (m_pForeDialog) {
        m_pForeDialog->setGeometry(rect());
        m_pForeDialog->raise();
    }
}

void CBackDialogBase::closeEvent(QCloseEvent* event) {
    // A close while we are still hidden (during creation) must end the modal
    // run before it starts.
    if (!isVisible()) m_bEnded = true;
    QDialog::closeEvent(event);
}

void CBackDialogBase::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QDialog::mousePressEvent(event);
        return;
    }
    event->accept();
    QWindow* window = windowHandle();
    if (window && window->startSystemMove()) return;
    m_bDragging = true;
    m_dragOffset = event->globalPosition().toPoint() - frameGeometry().topLeft();
}

void CBackDialogBase::mouseMoveEvent(QMouseEvent* event) {
    if (!m_bDragging) {
        QDialog::mouseMoveEvent(event);
        return;
    }
    move(event->globalPosition().toPoint() - m_dragOffset);
    event->accept();
}

void CBackDialogBase::mouseReleaseEvent(QMouseEvent* event) {
    if (m_bDragging && event->button() == Qt::LeftButton) {
        m_bDragging = false;
        event->accept();
        return;
    }
    QDialog::mouseReleaseEvent(event);
}

}  // namespace launcher
