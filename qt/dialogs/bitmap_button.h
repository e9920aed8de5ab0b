// A button drawn entirely by bitmap faces: the selected face while pressed,
// else the focused face while it has the focus, else the disabled face while
// disabled, else the normal face; each only when loaded. The face is copied
// unscaled from its top-left corner. Pure black in a face is the key colour:
// transparent, and presses there go through to the background.
#pragma once

#include <QAbstractButton>
#include <QImage>
#include <QPixmap>

namespace launcher::ui {

class CBitmapButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit CBitmapButton(QWidget* parent = nullptr);

    // Resource ids of the faces; 0 loads none for that state. False when the
    // normal face could not be loaded.
    bool LoadBitmaps(int normal, int selected = 0, int focused = 0, int disabled = 0);

    // Resource id of the face the next paint draws (0: none).
    int CurrentFaceId() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    enum Face { kNormal, kSelected, kFocused, kDisabled, kFaceCount };
    int CurrentFace() const;

    QPixmap m_faces[kFaceCount];
    QImage m_images[kFaceCount];  // for the key-colour hit test
    int m_ids[kFaceCount] = {};
};

}  // namespace launcher::ui
