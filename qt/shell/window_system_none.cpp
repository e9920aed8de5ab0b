#include "qt/shell/window_system.h"

namespace launcher {

bool WindowSystemIsCompositing() {
    return false;
}

bool CanShapeInput() {
    return false;
}

void SetInputShape(QWidget&, const QRegion&) {}

}  // namespace launcher
