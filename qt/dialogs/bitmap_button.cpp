#include "qt/dialogs/bitmap_button.h"

#include <QBitmap>
#include <QMouseEvent>
#include <QPainter>

#include "qt/dialogs/resources.h"

namespace launcher::ui {

CBitmapButton::CBitmapButton(QWidget* parent) : QAbstractButton(parent) {
    // Focus by click only where the face is: a press on the key colour is
    // not ours (see mousePressEvent).
    setFocusPolicy(Qt::TabFocus);
    setAttribute(Qt::WA_NoSystemBackground);
}

bool CBitmapButton::LoadBitmaps(int normal, int selected, int focused, int disabled) {
    const int ids[kFaceCount] = {normal, selected, focused, disabled};
    for (int face = 0; face < kFaceCount; ++face) {
        m_ids[face] = 0;
        m_faces[face] = QPixmap();
        m_images[face] = QImage();
        if (ids[face] == 0) continue;
        QPixmap pixmap(BitmapResource(ids[face]));
        if (pixmap.isNull()) continue;
        m_images[face] = pixmap.toImage().convertToFormat(QImage::Format_RGB32);
        pixmap.setMask(pixmap.createMaskFromColor(Qt::black, Qt::MaskInColor));
        m_faces[face] = pixmap;
        m_ids[face] = ids[face];
    }
    update();
    return m_ids[kNormal] != 0;
}

int CBitmapButton::CurrentFace() const {
    if (isDown() && m_ids[kSelected]) return kSelected;
    if (hasFocus() && m_ids[kFocused]) return kFocused;
    if (!isEnabled() && m_ids[kDisabled]) return kDisabled;
    return kNormal;
}

int CBitmapButton::CurrentFaceId() const {
    return m_ids[CurrentFace()];
}

QSize CBitmapButton::sizeHint() const {
    return m_faces[kNormal].size();
}

void CBitmapButton::paintEvent(QPaintEvent*) {
    const QPixmap& face = m_faces[CurrentFace()];
    if (face.isNull()) return;
    QPainter painter(this);
    painter.drawPixmap(0, 0, face);
}

void CBitmapButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && hitButton(event->position().toPoint()))
        setFocus(Qt::MouseFocusReason);
    QAbstractButton::mousePressEvent(event);
}

bool CBitmapButton::hitButton(const QPoint& pos) const {
    if (!rect().contains(pos)) return false;
    const QImage& face = m_images[CurrentFace()];
    if (face.isNull() || !face.rect().contains(pos)) return false;
    return (face.pixel(pos) & 0xFFFFFFu) != 0;
}

}  // namespace launcher::ui
