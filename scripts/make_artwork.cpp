// Draws the launcher's artwork into res/: the background picture (143, 144),
// the bitmap-button faces (129-141, 147-158) and the icon (128). Everything is
// drawn from code, placed with the same template data the window uses, so the
// faces sit exactly on the places prepared for them in the background.
//
// Faces are 24-bit bitmaps whose pure black is the key colour: outside a
// button's shape they are black, inside never. Their anti-aliased edges are
// blended with the background pixels they will cover, so they need no alpha.
//
// Build and run with scripts/make_artwork.sh.
#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QRandomGenerator>
#include <QtMath>
#include <cstdio>

#include "owner/engine_owner.h"
#include "window/dialog_template.h"

using namespace launcher;
using namespace launcher::ui;

namespace {

constexpr int kWidth = 1360;
constexpr int kHeight = 655;

const QColor kGold(214, 176, 102);
const QColor kGoldLight(246, 222, 160);
const QColor kGoldDark(132, 98, 44);
const QColor kNight(14, 18, 34);
const QColor kNightLight(30, 38, 70);

QRect PixelsOf(int id) {
    const DialogTemplate& t = MainDialogTemplate();
    const PixelRect r = t.Map(*t.Find(id));
    return QRect(r.left, r.top, r.width, r.height);
}

QFont Font(const char* family, int pixels, int weight) {
    QFont font(QString::fromLatin1(family));
    font.setPixelSize(pixels);
    font.setWeight(static_cast<QFont::Weight>(weight));
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

// ---------------------------------------------------------------- emblem

// One feather of a wing: a long leaf shape pointing along +x.
QPainterPath Feather(double length, double width) {
    QPainterPath path;
    path.moveTo(0, 0);
    path.cubicTo(length * 0.30, -width, length * 0.75, -width * 0.8, length, 0);
    path.cubicTo(length * 0.75, width * 0.55, length * 0.30, width * 0.7, 0, 0);
    return path;
}

// A crystal between two swept wings, centred on (0, 0), about 2 * size wide.
void DrawEmblem(QPainter& p, double size, bool withRing) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    if (withRing) {
        QRadialGradient disk(0, 0, size);
        disk.setColorAt(0.0, QColor(58, 52, 110));
        disk.setColorAt(0.7, QColor(24, 26, 58));
        disk.setColorAt(1.0, QColor(12, 14, 32));
        p.setPen(Qt::NoPen);
        p.setBrush(disk);
        p.drawEllipse(QPointF(0, 0), size, size);
        QPen ring(kGold, size * 0.035);
        p.setPen(ring);
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QPointF(0, 0), size, size);
        p.setPen(QPen(kGoldDark, size * 0.012));
        p.drawEllipse(QPointF(0, 0), size * 0.9, size * 0.9);
        // Rune ticks around the ring.
        for (int i = 0; i < 48; ++i) {
            p.save();
            p.rotate(i * 7.5);
            const double inner = i % 4 == 0 ? size * 0.80 : size * 0.85;
            p.setPen(QPen(i % 4 == 0 ? kGoldLight : kGoldDark, size * (i % 4 == 0 ? 0.02 : 0.01)));
            p.drawLine(QPointF(inner, 0), QPointF(size * 0.9, 0));
            p.restore();
        }
    }
    // Wings: a fan of feathers on each side.
    for (int side = -1; side <= 1; side += 2) {
        for (int i = 0; i < 7; ++i) {
            p.save();
            p.scale(side, 1);
            p.translate(size * 0.10, size * 0.05);
            p.rotate(-58 + i * 13.0);
            const double length = size * (0.78 - std::abs(i - 2.5) * 0.045);
            QLinearGradient g(0, 0, length, 0);
            g.setColorAt(0.0, QColor(250, 236, 190));
            g.setColorAt(0.55, kGold);
            g.setColorAt(1.0, QColor(150, 110, 52));
            p.setBrush(g);
            p.setPen(QPen(QColor(90, 62, 26), size * 0.008));
            p.drawPath(Feather(length, size * 0.075));
            p.restore();
        }
    }
    // The crystal.
    QPainterPath crystal;
    crystal.moveTo(0, -size * 0.52);
    crystal.lineTo(size * 0.17, -size * 0.08);
    crystal.lineTo(0, size * 0.50);
    crystal.lineTo(-size * 0.17, -size * 0.08);
    crystal.closeSubpath();
    QLinearGradient cg(-size * 0.17, -size * 0.5, size * 0.17, size * 0.5);
    cg.setColorAt(0.0, QColor(196, 240, 255));
    cg.setColorAt(0.45, QColor(84, 170, 255));
    cg.setColorAt(1.0, QColor(40, 52, 170));
    p.setBrush(cg);
    p.setPen(QPen(QColor(230, 248, 255), size * 0.012));
    p.drawPath(crystal);
    p.setPen(QPen(QColor(255, 255, 255, 150), size * 0.008));
    p.drawLine(QPointF(0, -size * 0.52), QPointF(0, size * 0.50));
    p.drawLine(QPointF(-size * 0.17, -size * 0.08), QPointF(size * 0.17, -size * 0.08));
    p.restore();
}

// ---------------------------------------------------------------- background

void DrawBackground(QImage& image) {
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    // The body: a panel with clipped corners, a little translucent, and the
    // emblem's disc breaking out of its right edge.
    const QRectF panel(112, 74, 928, 540);
    QPainterPath body;
    const double cut = 26;
    body.moveTo(panel.left() + cut, panel.top());
    body.lineTo(panel.right() - cut, panel.top());
    body.lineTo(panel.right(), panel.top() + cut);
    body.lineTo(panel.right(), panel.bottom() - cut);
    body.lineTo(panel.right() - cut, panel.bottom());
    body.lineTo(panel.left() + cut, panel.bottom());
    body.lineTo(panel.left(), panel.bottom() - cut);
    body.lineTo(panel.left(), panel.top() + cut);
    body.closeSubpath();
    const QPointF emblemCentre(1150, 318);
    const double emblemSize = 190;
    QPainterPath disc;
    disc.addEllipse(emblemCentre, emblemSize + 12, emblemSize + 12);
    const QPainterPath shape = body.united(disc);

    QLinearGradient night(0, panel.top(), 0, panel.bottom());
    night.setColorAt(0.0, QColor(26, 30, 62, 246));
    night.setColorAt(0.35, QColor(16, 20, 42, 238));
    night.setColorAt(1.0, QColor(10, 12, 26, 246));
    p.fillPath(shape, night);

    // Nebula and stars, clipped to the body.
    p.save();
    p.setClipPath(shape);
    QRandomGenerator random(20240611);
    const QColor haze[] = {QColor(110, 70, 190, 46), QColor(40, 120, 190, 40),
                           QColor(170, 90, 150, 30)};
    for (int i = 0; i < 14; ++i) {
        const QPointF c(120 + random.bounded(1220), 60 + random.bounded(560));
        const double r = 90 + random.bounded(220);
        QRadialGradient g(c, r);
        g.setColorAt(0.0, haze[i % 3]);
        g.setColorAt(1.0, Qt::transparent);
        p.fillRect(QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r), g);
    }
    for (int i = 0; i < 420; ++i) {
        const QPointF c(100 + random.bounded(1260), 60 + random.bounded(580));
        const double r = 0.4 + random.bounded(1.2);
        const int alpha = 60 + static_cast<int>(random.bounded(170));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(220, 230, 255, alpha));
        p.drawEllipse(c, r, r);
    }
    p.restore();

    // Gold frame.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kGold, 3));
    p.drawPath(shape);
    p.setPen(QPen(QColor(kGoldDark.red(), kGoldDark.green(), kGoldDark.blue(), 200), 1));
    QTransform inset;
    p.drawPath(body.translated(0, 0));

    // Title.
    p.save();
    QFont title = Font("Noto Serif CJK SC", 46, QFont::Bold);
    title.setLetterSpacing(QFont::AbsoluteSpacing, 6);
    QPainterPath text;
    text.addText(150, 142, title, QStringLiteral("CORVATHEON II"));
    QLinearGradient gold(0, 100, 0, 145);
    gold.setColorAt(0.0, kGoldLight);
    gold.setColorAt(0.55, kGold);
    gold.setColorAt(1.0, kGoldDark);
    p.setPen(QPen(QColor(40, 24, 8, 200), 4));
    p.drawPath(text);
    p.fillPath(text, gold);
    p.setFont(Font("Noto Sans CJK SC", 14, QFont::Normal));
    p.setPen(QColor(190, 200, 230));
    p.restore();

    // Separator under the title, left of the link buttons.
    p.setPen(QPen(kGoldDark, 1));
    p.drawLine(QPointF(150, 156), QPointF(360, 156));

    // News frame.
    const QRect news = PixelsOf(kIdBrowser);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(6, 8, 18, 230));
    p.drawRoundedRect(QRectF(news).adjusted(-4, -4, 4, 4), 5, 5);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kGoldDark, 1.5));
    p.drawRoundedRect(QRectF(news).adjusted(-4, -4, 4, 4), 5, 5);

    // Bar tracks: grooves a little larger than the bars, with captions.
    p.setFont(Font("Noto Sans CJK SC", 12, QFont::Normal));
    const struct {
        int id;
        const char* caption;
    } bars[] = {{kIdProgressFile, "当前文件"}, {kIdProgressTotal, "全部进度"}};
    for (const auto& bar : bars) {
        const QRectF r = QRectF(PixelsOf(bar.id)).adjusted(-3, -3, 3, 3);
        p.setPen(QPen(QColor(90, 80, 60), 1));
        p.setBrush(QColor(4, 6, 14));
        p.drawRoundedRect(r, 4, 4);
        p.setPen(QColor(200, 190, 160));
        p.drawText(QRectF(150, r.top() - 3, 76, r.height() + 6), Qt::AlignRight | Qt::AlignVCenter,
                   QString::fromUtf8(bar.caption));
    }

    // A plinth under the Start button.
    const QRect start = PixelsOf(kIdStart).united(PixelsOf(kIdStartIdle));
    QRadialGradient glow(QRectF(start).center(), 140);
    glow.setColorAt(0.0, QColor(255, 200, 110, 70));
    glow.setColorAt(1.0, QColor(255, 200, 110, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(glow);
    p.drawEllipse(QRectF(start).center(), 140, 140);

    // The emblem.
    p.save();
    p.translate(emblemCentre);
    DrawEmblem(p, emblemSize, true);
    p.restore();

    p.end();
}

// ---------------------------------------------------------------- faces

enum class FaceState { kNormal, kSelected, kFocused, kDisabled };

struct FaceStyle {
    QColor top, bottom, border, text;
};

FaceStyle StyleFor(bool big, FaceState state) {
    if (big) {
        switch (state) {
            case FaceState::kNormal:
                return {QColor(250, 214, 130), QColor(176, 112, 34), QColor(255, 238, 190),
                        QColor(60, 28, 6)};
            case FaceState::kSelected:
                return {QColor(176, 112, 34), QColor(226, 170, 80), QColor(200, 160, 90),
                        QColor(50, 22, 4)};
            case FaceState::kFocused:
                return {QColor(255, 232, 160), QColor(206, 138, 48), QColor(255, 250, 220),
                        QColor(70, 34, 8)};
            case FaceState::kDisabled:
                return {QColor(120, 116, 110), QColor(70, 68, 66), QColor(150, 146, 136),
                        QColor(40, 38, 36)};
        }
    }
    switch (state) {
        case FaceState::kNormal:
            return {QColor(54, 64, 110), QColor(24, 28, 56), kGold, QColor(246, 232, 196)};
        case FaceState::kSelected:
            return {QColor(20, 24, 48), QColor(44, 52, 92), kGoldDark, QColor(220, 200, 160)};
        case FaceState::kFocused:
            return {QColor(80, 92, 150), QColor(34, 40, 80), kGoldLight, QColor(255, 246, 220)};
        case FaceState::kDisabled:
            return {QColor(60, 60, 66), QColor(36, 36, 40), QColor(100, 100, 100),
                    QColor(150, 150, 150)};
    }
    return {};
}

// Draws one face: the shape fills `visible` (the button's own size) inside a
// face of `faceSize`, over the background it will cover.
QImage DrawFace(const QImage& background, QPoint at, QSize faceSize, QSize visible,
                const QString& text, bool big, FaceState state) {
    QImage shape(faceSize, QImage::Format_ARGB32_Premultiplied);
    shape.fill(Qt::transparent);
    {
        QPainter p(&shape);
        p.setRenderHint(QPainter::Antialiasing);
        const FaceStyle s = StyleFor(big, state);
        const QRectF r = QRectF(QPointF(0, 0), QSizeF(visible)).adjusted(1, 1, -1, -1);
        const double radius = big ? 12 : 5;
        QLinearGradient g(0, r.top(), 0, r.bottom());
        g.setColorAt(0.0, s.top);
        g.setColorAt(1.0, s.bottom);
        p.setPen(QPen(s.border, big ? 2.0 : 1.2));
        p.setBrush(g);
        p.drawRoundedRect(r, radius, radius);
        // A highlight on the upper half.
        QPainterPath gloss;
        gloss.addRoundedRect(r.adjusted(3, 2, -3, -r.height() / 2), radius - 2, radius - 2);
        p.fillPath(gloss, QColor(255, 255, 255, state == FaceState::kSelected ? 10 : 34));
        if (state == FaceState::kFocused) {
            p.setPen(QPen(QColor(255, 255, 255, 120), 1));
            p.setBrush(Qt::NoBrush);
            p.drawRoundedRect(r.adjusted(2.5, 2.5, -2.5, -2.5), radius - 2, radius - 2);
        }
        QFont font = big ? Font("Noto Serif CJK SC", 25, QFont::Bold)
                         : Font("Noto Sans CJK SC", 13, QFont::Bold);
        if (big) font.setLetterSpacing(QFont::AbsoluteSpacing, 4);
        p.setFont(font);
        const QPointF shift = state == FaceState::kSelected ? QPointF(1, 1) : QPointF(0, 0);
        const QRectF textRect = r.translated(shift);
        if (big) {
            p.setPen(QColor(255, 240, 200, 110));
            p.drawText(textRect.translated(0, 1), Qt::AlignCenter, text);
        } else {
            p.setPen(QColor(8, 8, 16, 160));
            p.drawText(textRect.translated(1, 1), Qt::AlignCenter, text);
        }
        p.setPen(s.text);
        p.drawText(textRect, Qt::AlignCenter, text);
    }
    // Blend onto the background beneath; key colour outside the shape.
    QImage face(faceSize, QImage::Format_RGB888);
    for (int y = 0; y < faceSize.height(); ++y) {
        for (int x = 0; x < faceSize.width(); ++x) {
            const QRgb f = shape.pixel(x, y);
            const int a = qAlpha(f);
            if (a == 0) {
                face.setPixel(x, y, qRgb(0, 0, 0));
                continue;
            }
            const QPoint bp = at + QPoint(x, y);
            QRgb b = background.rect().contains(bp) ? background.pixel(bp) : qRgba(0, 0, 0, 255);
            // Unpremultiplied background over the desktop's unknown: treat as opaque.
            auto mix = [a](int fc, int bc) {
                return std::clamp(fc + bc * (255 - a) / 255, 0, 255);
            };
            int r = mix(qRed(f), qRed(b)), g = mix(qGreen(f), qGreen(b)),
                bl = mix(qBlue(f), qBlue(b));
            if (r == 0 && g == 0 && bl == 0) r = g = bl = 2;  // never the key inside
            face.setPixel(x, y, qRgb(r, g, bl));
        }
    }
    return face;
}

bool Save(const QImage& image, const QString& path) {
    if (!image.save(path)) {
        std::fprintf(stderr, "make_artwork: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QString res = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("res");
    QDir().mkpath(res + "/png");
    QDir().mkpath(res + "/bitmap");
    QDir().mkpath(res + "/icon");

    QImage background(kWidth, kHeight, QImage::Format_ARGB32);
    DrawBackground(background);
    bool ok = Save(background, res + "/png/143.png");
    ok = ok && QFile::remove(res + "/png/144.png") | true;
    ok = ok && QFile::copy(res + "/png/143.png", res + "/png/144.png");
    // Faces are blended over the picture as it will look (opaque).
    const QImage beneath = background.convertToFormat(QImage::Format_RGB32);

    const DialogTemplate& t = MainDialogTemplate();
    for (const ButtonFaces& faces : MainDialogFaces()) {
        const ControlTemplate& control = *t.Find(faces.buttonId);
        const QRect where = PixelsOf(faces.buttonId);
        const bool big = faces.buttonId == kIdStart || faces.buttonId == kIdStartIdle;
        const QString text = QString::fromUtf8(control.text);
        const QSize faceSize(faces.width, faces.height);
        const QSize visible(std::min(faces.width, where.width()),
                            std::min(faces.height, where.height()));
        const struct {
            int id;
            FaceState state;
        } states[] = {{faces.normal,
                       faces.buttonId == kIdStartIdle ? FaceState::kDisabled : FaceState::kNormal},
                      {faces.selected, FaceState::kSelected},
                      {faces.focused, FaceState::kFocused},
                      {faces.disabled, FaceState::kDisabled}};
        for (const auto& s : states) {
            if (s.id == 0) continue;
            // 141 is drawn once, for the idle button's place (button 1's
            // disabled face is never shown: it is never disabled).
            if (s.id == 141 && faces.buttonId == kIdStart) continue;
            const QImage face =
                DrawFace(beneath, where.topLeft(), faceSize, visible, text, big, s.state);
            ok = Save(face, QStringLiteral("%1/bitmap/%2.bmp").arg(res).arg(s.id)) && ok;
        }
    }

    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        QImage icon(size, size, QImage::Format_ARGB32);
        icon.fill(Qt::transparent);
        QPainter p(&icon);
        p.translate(size / 2.0, size / 2.0);
        DrawEmblem(p, size * 0.47, true);
        p.end();
        ok = Save(icon, QStringLiteral("%1/icon/128-%2.png").arg(res).arg(size)) && ok;
    }
    return ok ? 0 : 1;
}
