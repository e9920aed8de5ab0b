// What the shell asks of the window system beyond Qt: whether a compositor
// blends windows, and an input shape without a drawing shape. Realised for
// X11; elsewhere both answer no and the window keeps its mask.
#pragma once

#include <QRegion>

class QWidget;

namespace launcher {

bool WindowSystemIsCompositing();
bool CanShapeInput();
// Limits `window`'s input to `region` (window coordinates), when CanShapeInput.
void SetInputShape(QWidget& window, const QRegion& region);

}  // namespace launcher
