// The two-layer shell: the window takes the picture's size and shape, the
// controls layer covers it, presses on the key colour move the window while
// presses on a button stay with the button, and closing the layer ends the
// background's modal run.
#include <gtest/gtest.h>

#include <QImage>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include "qt/dialogs/bitmap_button.h"
#include "qt/dialogs/resources.h"
#include "qt/shell/back_dialog_base.h"
#include "qt/shell/fore_dialog_base.h"
#include "qt/shell/window_outline.h"

namespace launcher::test {
namespace {

class TestForeDialog : public CForeDialogBase {
public:
    explicit TestForeDialog(QWidget* parent) : CForeDialogBase(102, parent) {
        button = new ui::CBitmapButton(this);
        button->LoadBitmaps(129, 130, 131, 0);  // 84 x 26, rounded: black corners
        button->setGeometry(400, 300, 82, 26);
        QObject::connect(button, &QAbstractButton::clicked, [this] { ++clicks; });
    }
    ui::CBitmapButton* button;
    int clicks = 0;
};

class TestBackDialog : public CBackDialogBase {
public:
    TestBackDialog() : CBackDialogBase((ui::InitLauncherResources(), 143)) {}
    CForeDialogBase* CreateForeDialog() override { return fore = new TestForeDialog(this); }
    TestForeDialog* fore = nullptr;
};

// Input through the window system, as a pointer gives it: Qt finds the widget
// under the point and hands ignored presses on to its parents.
// A left-button drag from `from` (window coordinates) by `delta`. The pointer
// moves on the screen, so each step is given where the window is by then.
void Drag(QWidget* widget, QPoint from, QPoint delta) {
    QWindow* window = widget->windowHandle();
    const QPoint start = widget->mapToGlobal(from);
    QTest::mousePress(window, Qt::LeftButton, {}, from);
    QTest::mouseMove(window, widget->mapFromGlobal(start + delta / 2));
    QTest::mouseMove(window, widget->mapFromGlobal(start + delta));
    QTest::mouseRelease(window, Qt::LeftButton, {}, widget->mapFromGlobal(start + delta));
}

TEST(Shell, WindowTakesThePictureAndTheLayerCoversIt) {
    TestBackDialog back;
    back.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&back));
    EXPECT_EQ(back.size(), QSize(1360, 655));
    EXPECT_EQ(back.Image().size(), QSize(1360, 655));
    ASSERT_NE(back.fore, nullptr);
    EXPECT_EQ(back.fore->geometry(), back.rect());
    EXPECT_TRUE(back.fore->isVisible());
    EXPECT_FALSE(back.fore->isWindow());
    // The shape: transparent corners of the picture are outside, its body in.
    EXPECT_FALSE(back.mask().contains(QPoint(2, 2)));
    EXPECT_TRUE(back.mask().contains(QPoint(600, 300)));
}

TEST(Shell, SoftOutlineOnlyWhereACompositorBlends) {
    const struct {
        bool compositing;
        bool canShapeInput;
        Outline outline;
    } rows[] = {
        {true, true, Outline::kInputShape},
        {true, false, Outline::kWindowMask},
        {false, true, Outline::kWindowMask},
        {false, false, Outline::kWindowMask},
    };
    for (const auto& row : rows)
        EXPECT_EQ(ChooseOutline(row.compositing, row.canShapeInput), row.outline);
    // A faint edge pixel takes input under a compositor but is cut by the mask.
    QImage edge(3, 1, QImage::Format_ARGB32);
    for (int x : {0, 1, 2}) edge.setPixel(x, 0, qRgba(0, 0, 0, x * 100));
    EXPECT_EQ(AlphaRegion(edge, 1), QRegion(1, 0, 2, 1));
    EXPECT_EQ(AlphaRegion(edge, kHalfAlpha), QRegion(2, 0, 1, 1));
}

TEST(Shell, PressOnTheKeyColourMovesTheWindowAndAButtonKeepsItsPress) {
    TestBackDialog back;
    back.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&back));
    TestForeDialog* fore = back.fore;
    const QPoint start = back.pos();

    // A wobble shorter than the drag distance is a click: no move starts.
    Drag(&back, QPoint(300, 400), QPoint(2, 1));
    EXPECT_EQ(back.pos(), start);

    // Nothing of the layer there: the background takes the press and moves.
    Drag(&back, QPoint(300, 400), QPoint(40, 25));
    EXPECT_EQ(back.pos(), start + QPoint(40, 25));
    EXPECT_EQ(fore->clicks, 0);

    // The button's own key-coloured corner passes the press through as well.
    const QPoint moved = back.pos();
    ASSERT_EQ(QImage(ui::BitmapResource(129)).pixel(0, 0), qRgb(0, 0, 0));
    Drag(&back, fore->button->geometry().topLeft(), QPoint(-30, 10));
    EXPECT_EQ(back.pos(), moved + QPoint(-30, 10));
    EXPECT_EQ(fore->clicks, 0);

    // On the face: a click on the button, and the window stays.
    const QPoint centre = fore->button->geometry().center();
    QTest::mouseClick(back.windowHandle(), Qt::LeftButton, {}, centre);
    EXPECT_EQ(fore->clicks, 1);
    EXPECT_TRUE(fore->button->hasFocus());
    Drag(&back, centre, QPoint(50, 50));
    EXPECT_EQ(back.pos(), moved + QPoint(-30, 10));
}

TEST(Shell, ClosingTheLayerEndsTheModalRun) {
    for (bool cancel : {true, false}) {
        TestBackDialog back;
        QTimer::singleShot(0, &back, [&] {
            if (cancel)
                back.fore->OnCancel();
            else
                back.fore->OnOK();
        });
        QTimer::singleShot(10000, &back, [&] { back.done(99); });  // guard only
        EXPECT_EQ(back.exec(), QDialog::Rejected);
        EXPECT_FALSE(back.isVisible());
        EXPECT_FALSE(back.fore->isVisible());
    }
}

TEST(Shell, ButtonFacesFollowTheButtonState) {
    ui::CBitmapButton button;
    button.LoadBitmaps(138, 139, 140, 141);
    button.resize(193, 60);
    EXPECT_EQ(button.CurrentFaceId(), 138);
    button.setDown(true);
    EXPECT_EQ(button.CurrentFaceId(), 139);
    button.setDown(false);
    button.setEnabled(false);
    EXPECT_EQ(button.CurrentFaceId(), 141);
    ui::CBitmapButton idle;
    idle.LoadBitmaps(141);
    idle.setDown(true);
    EXPECT_EQ(idle.CurrentFaceId(), 141) << "no pressed face: the normal one";
}

}  // namespace
}  // namespace launcher::test
