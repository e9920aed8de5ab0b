#include <QGuiApplication>
#include <QTransform>
#include <QWidget>
#include <string>
#include <vector>

#include "qt/shell/window_system.h"

#if QT_CONFIG(xcb)
// Last: the X headers define macros (None, Bool, Status ...) that clash with Qt.
#include <X11/Xlib.h>
#include <X11/extensions/shape.h>
#endif

namespace launcher {

#if QT_CONFIG(xcb)

namespace {

// The X connection of the running application; null on any other platform.
Display* XDisplay() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->display() : nullptr;
}

}  // namespace

bool WindowSystemIsCompositing() {
    Display* display = XDisplay();
    if (!display) return false;
    // A compositing manager owns this selection for the screen it blends.
    const std::string name = "_NET_WM_CM_S" + std::to_string(XDefaultScreen(display));
    const Atom selection = XInternAtom(display, name.c_str(), False);
    return selection != 0 && XGetSelectionOwner(display, selection) != 0;
}

bool CanShapeInput() {
    Display* display = XDisplay();
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    // Input shapes came with version 1.1 of the extension.
    return display && XShapeQueryExtension(display, &eventBase, &errorBase) &&
           XShapeQueryVersion(display, &major, &minor) && (major > 1 || (major == 1 && minor >= 1));
}

void SetInputShape(QWidget& window, const QRegion& region) {
    Display* display = XDisplay();
    if (!display) return;
    // X counts device pixels.
    const qreal ratio = window.devicePixelRatioF();
    const QRegion native = QTransform::fromScale(ratio, ratio).map(region);
    std::vector<XRectangle> rects;
    rects.reserve(static_cast<std::size_t>(native.rectCount()));
    for (const QRect& r : native)
        rects.push_back({static_cast<short>(r.x()), static_cast<short>(r.y()),
                         static_cast<unsigned short>(r.width()),
                         static_cast<unsigned short>(r.height())});
    XShapeCombineRectangles(display, static_cast<Window>(window.winId()), ShapeInput, 0, 0,
                            rects.data(), static_cast<int>(rects.size()), ShapeSet, Unsorted);
    XFlush(display);
}

#else

bool WindowSystemIsCompositing() {
    return false;
}

bool CanShapeInput() {
    return false;
}

void SetInputShape(QWidget&, const QRegion&) {}

#endif

}  // namespace launcher
