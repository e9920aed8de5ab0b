// The background layer of the launcher's two-layer window: a frameless,
// translucent top-level window whose whole appearance is a PNG with per-pixel
// alpha, drawn at its own size. The controls layer (CForeDialogBase) is a
// child covering it; presses that the controls layer does not take arrive
// here and move the window.
#pragma once

#include <QDialog>
#include <QImage>
#include <QPoint>
#include <memory>

namespace launcher {

class CForeDialogBase;

class CBackDialogBase : public QDialog {
    Q_OBJECT
public:
    // `nPngId`: the background picture (resource ":/png/<id>.png").
    explicit CBackDialogBase(int nPngId);
    ~CBackDialogBase() override;

    // The factory of the controls layer, called once when the window is created.
    virtual CForeDialogBase* CreateForeDialog() = 0;

    CForeDialogBase* ForeDialog() const { return m_pForeDialog; }
    const QImage& Image() const { return *m_pImage; }

    // Creates the layers (if not yet done) and runs the modal loop. Returns at
    // once when a closing path ran while the window was being created.
    int exec() override;
    void setVisible(bool visible) override;
    void done(int result) override;

protected:
    virtual bool OnInitDialog();
    // Hands the picture to the window system: the window takes its size and
    // its shape.
    void RenderBackground();

    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void OnCreate();
    void FollowWithForeDialog();

    std::unique_ptr<QImage> m_pImage;
    CForeDialogBase* m_pForeDialog = nullptr;
    bool m_bCreated = false;
    bool m_bEnded = false;
    // A left press waiting for the pointer to move far enough to be a drag.
    bool m_bPressed = false;
    QPoint m_pressPos;
    // Manual move where the window system refuses a system move.
    bool m_bDragging = false;
    QPoint m_dragOffset;
};

}  // namespace launcher
