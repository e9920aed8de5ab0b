#include "qt/shell/window_outline.h"

#include <QList>
#include <QRect>

namespace launcher {

Outline ChooseOutline(bool compositing, bool canShapeInput) {
    return compositing && canShapeInput ? Outline::kInputShape : Outline::kWindowMask;
}

QRegion AlphaRegion(const QImage& picture, int minAlpha) {
    const QImage image = picture.convertToFormat(QImage::Format_ARGB32);
    // One row at a time, runs left to right: already the banded order that
    // QRegion::setRects takes without sorting.
    QList<QRect> runs;
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        int x = 0;
        while (x < image.width()) {
            while (x < image.width() && qAlpha(row[x]) < minAlpha) ++x;
            const int start = x;
            while (x < image.width() && qAlpha(row[x]) >= minAlpha) ++x;
            if (x > start) runs.append(QRect(start, y, x - start, 1));
        }
    }
    QRegion region;
    region.setRects(runs.constData(), static_cast<int>(runs.size()));
    return region;
}

}  // namespace launcher
