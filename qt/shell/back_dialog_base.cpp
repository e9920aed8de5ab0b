#include "qt/shell/back_dialog_base.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWindow>

#include "qt/shell/fore_dialog_base.h"
#include "qt/shell/window_outline.h"
#include "qt/shell/window_system.h"

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
    if (ChooseOutline(WindowSystemIsCompositing(), CanShapeInput()) == Outline::kInputShape) {
        clearMask();
        SetInputShape(*this, AlphaRegion(*m_pImage, 1));
    } else {
        setMask(AlphaRegion(*m_pImage, kHalfAlpha));
    }
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
    // No move yet: a system move started by a click that is released at once
    // leaves the window manager in its move mode, swallowing the next keys.
    m_bPressed = true;
    m_pressPos = event->globalPosition().toPoint();
    m_dragOffset = m_pressPos - frameGeometry().topLeft();
}

void CBackDialogBase::mouseMoveEvent(QMouseEvent* event) {
    const QPoint pointer = event->globalPosition().toPoint();
    if (m_bPressed && (event->buttons() & Qt::LeftButton) &&
        (pointer - m_pressPos).manhattanLength() >= QApplication::startDragDistance()) {
        m_bPressed = false;
        QWindow* window = windowHandle();
        if (window && window->startSystemMove()) return;
        m_bDragging = true;  // the window system refused: move it ourselves
    }
    if (!m_bDragging) {
        QDialog::mouseMoveEvent(event);
        return;
    }
    move(pointer - m_dragOffset);
    event->accept();
}

void CBackDialogBase::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && (m_bPressed || m_bDragging)) {
        m_bPressed = false;
        m_bDragging = false;
        event->accept();
        return;
    }
    QDialog::mouseReleaseEvent(event);
}

}  // namespace launcher
