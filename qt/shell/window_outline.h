// How the background picture's outline is cut out of its window. With a
// compositor the window is drawn with the picture's full alpha (a soft edge)
// and only input is limited to the picture; without one the window itself is
// cut where the picture is at least half opaque, since nothing would blend
// the rest.
#pragma once

#include <QImage>
#include <QRegion>

namespace launcher {

enum class Outline {
    kWindowMask,  // drawing and input cut at half alpha
    kInputShape,  // full alpha drawn, input limited to visible pixels
};

Outline ChooseOutline(bool compositing, bool canShapeInput);

// The pixels whose alpha is at least `minAlpha` (1..255).
QRegion AlphaRegion(const QImage& image, int minAlpha);

inline constexpr int kHalfAlpha = 128;

}  // namespace launcher
