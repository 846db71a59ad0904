#include "pictures.h"

#include "paintkit.h"

#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>

using PaintKit::accentCyan;
using PaintKit::paintEmblem;
using PaintKit::Random;
using PaintKit::strokeOf;

namespace Pictures {

namespace {

// The overlay is drawn 1.35 times larger than the window shows it.
constexpr double overlayScale = 1.35;

// Where the window puts its widgets over and under the overlay, in window pixels.
const QRectF launchButtonInWindow(350, 510, 101, 41);
const QRectF statusLineInWindow(12, 534, 331, 20);
const QRectF notesInWindow(10, 10, 671, 361);
// The window's background picture begins here, centred in a label taller than itself; above it the
// notes' first lines lie on the window's own colour, which sets them off as a header.
constexpr double backgroundTopInWindow = 87;

QRectF toOverlay(const QRectF &windowRect)
{
    return QRectF(windowRect.topLeft() * overlayScale, windowRect.size() * overlayScale);
}

void paintStars(QPainter &painter, const QRectF &sky, int count, std::uint32_t seed,
                const QPointF &avoid, double avoidRadius)
{
    Random random(seed);
    for (int i = 0; i < count; ++i) {
        const double x = random.uniform(sky.left(), sky.right());
        // Squaring thins the stars out towards the horizon, where the haze would hide them.
        const double depth = random.uniform(0, 1);
        const double y = sky.top() + depth * depth * sky.height();
        const double radius = random.uniform(0.45, 1.35);
        const int alpha = int(random.uniform(70, 235) * (1.0 - 0.6 * depth * depth));
        if (QLineF(QPointF(x, y), avoid).length() < avoidRadius)
            continue;
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(225, 235, 255, alpha));
        painter.drawEllipse(QPointF(x, y), radius, radius);
    }
    // A few bright ones with a soft halo and a small cross of light.
    for (int i = 0; i < 11; ++i) {
        const QPointF centre(random.uniform(sky.left() + 20, sky.right() - 20),
                             random.uniform(sky.top() + 10, sky.top() + 0.55 * sky.height()));
        if (QLineF(centre, avoid).length() < avoidRadius + 30)
            continue;
        const double size = random.uniform(4, 9);
        QPainterPath dot;
        dot.addEllipse(centre, 1.6, 1.6);
        PaintKit::paintGlow(painter, dot, QColor(150, 200, 255, 200), 3);
        QLinearGradient horizontal(centre - QPointF(size, 0), centre + QPointF(size, 0));
        horizontal.setColorAt(0, QColor(200, 225, 255, 0));
        horizontal.setColorAt(0.5, QColor(230, 240, 255, 200));
        horizontal.setColorAt(1, QColor(200, 225, 255, 0));
        painter.fillRect(QRectF(centre.x() - size, centre.y() - 0.5, 2 * size, 1), horizontal);
        QLinearGradient vertical(centre - QPointF(0, size), centre + QPointF(0, size));
        vertical.setColorAt(0, QColor(200, 225, 255, 0));
        vertical.setColorAt(0.5, QColor(230, 240, 255, 200));
        vertical.setColorAt(1, QColor(200, 225, 255, 0));
        painter.fillRect(QRectF(centre.x() - 0.5, centre.y() - size, 1, 2 * size), vertical);
        painter.setBrush(QColor(245, 250, 255));
        painter.drawEllipse(centre, 1.3, 1.3);
    }
}

void paintMoon(QPainter &painter, const QPointF &centre, double radius)
{
    QRadialGradient halo(centre, 3.2 * radius);
    halo.setColorAt(0.25, QColor(150, 195, 255, 110));
    halo.setColorAt(0.5, QColor(110, 160, 240, 40));
    halo.setColorAt(1, QColor(90, 140, 230, 0));
    painter.setPen(Qt::NoPen);
    painter.setBrush(halo);
    painter.drawEllipse(centre, 3.2 * radius, 3.2 * radius);
    QPainterPath disc;
    disc.addEllipse(centre, radius, radius);
    PaintKit::paintGlow(painter, disc, QColor(200, 225, 255, 200), 6);
    QRadialGradient fill(centre - QPointF(0.35 * radius, 0.35 * radius), 1.5 * radius);
    fill.setColorAt(0, QColor(250, 252, 255));
    fill.setColorAt(0.7, QColor(214, 226, 245));
    fill.setColorAt(1, QColor(176, 194, 226));
    painter.fillPath(disc, fill);
    // Faint maria, so the disc reads as a moon and not as a lamp.
    painter.save();
    painter.setClipPath(disc);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(120, 140, 180, 26));
    painter.drawEllipse(centre + QPointF(-0.30 * radius, -0.10 * radius), 0.34 * radius, 0.26 * radius);
    painter.drawEllipse(centre + QPointF(0.22 * radius, 0.28 * radius), 0.26 * radius, 0.20 * radius);
    painter.drawEllipse(centre + QPointF(0.30 * radius, -0.38 * radius), 0.16 * radius, 0.13 * radius);
    painter.drawEllipse(centre + QPointF(-0.12 * radius, 0.52 * radius), 0.12 * radius, 0.09 * radius);
    painter.restore();
}

struct Ridge
{
    std::uint32_t seed;
    double baseline;
    double amplitude;
    QColor top;
    QColor bottom;
    int rimAlpha;
};

// Layers of mountains, each nearer one darker, with haze drifting between them.
void paintRidges(QPainter &painter, double width, double bottom)
{
    const Ridge ridges[] = {
        {7, 480, 190, QColor(44, 70, 122), QColor(30, 50, 96), 70},
        {23, 565, 130, QColor(26, 44, 88), QColor(18, 31, 66), 55},
        {41, 645, 100, QColor(14, 24, 54), QColor(9, 15, 38), 45},
    };
    for (const Ridge &ridge : ridges) {
        Random random(ridge.seed);
        const QVector<double> heights = PaintKit::ridgeHeights(random, 7, 0.58);
        const QPainterPath shape =
            PaintKit::ridgeShape(heights, width, ridge.baseline, ridge.amplitude, bottom);

        QLinearGradient haze(0, ridge.baseline - ridge.amplitude - 40, 0, ridge.baseline + 30);
        haze.setColorAt(0, QColor(110, 170, 230, 0));
        haze.setColorAt(0.75, QColor(110, 170, 230, 34));
        haze.setColorAt(1, QColor(110, 170, 230, 0));
        painter.fillRect(QRectF(0, ridge.baseline - ridge.amplitude - 40, width, ridge.amplitude + 70),
                         haze);

        QLinearGradient fill(0, ridge.baseline - ridge.amplitude, 0, ridge.baseline + 60);
        fill.setColorAt(0, ridge.top);
        fill.setColorAt(1, ridge.bottom);
        painter.fillPath(shape, fill);

        // Moonlight catches the crests.
        QPainterPath crest;
        const double step = width / (heights.size() - 1);
        crest.moveTo(0, ridge.baseline - ridge.amplitude * heights[0]);
        for (int i = 1; i < heights.size(); ++i)
            crest.lineTo(i * step, ridge.baseline - ridge.amplitude * heights[i]);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(QColor(150, 200, 255, ridge.rimAlpha), 1.4));
        painter.drawPath(crest);
        painter.setPen(Qt::NoPen);
    }
}

// The light panel along the bottom of the overlay, rising into a tab around the launch button's bay,
// with a line of light along its top edge.
void paintPanel(QPainter &painter, const QRectF &area, const QRectF &bay)
{
    const double tabTop = bay.top() - 22;
    QPainterPath edge;
    edge.moveTo(area.left() - 5, area.top());
    edge.lineTo(bay.left() - 40, area.top());
    edge.lineTo(bay.left() - 16, tabTop);
    edge.lineTo(bay.right() + 16, tabTop);
    edge.lineTo(bay.right() + 40, area.top());
    edge.lineTo(area.right() + 5, area.top());
    QPainterPath panel = edge;
    panel.lineTo(area.right() + 5, area.bottom() + 5);
    panel.lineTo(area.left() - 5, area.bottom() + 5);
    panel.closeSubpath();

    PaintKit::paintGlow(painter, strokeOf(edge, 4), QColor(56, 214, 255, 200), 6);
    QLinearGradient panelFill(0, tabTop, 0, area.bottom());
    panelFill.setColorAt(0, QColor(238, 242, 248));
    panelFill.setColorAt(1, QColor(200, 209, 222));
    painter.fillPath(panel, panelFill);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(accentCyan, 2));
    painter.drawPath(edge);
    painter.setPen(QPen(QColor(255, 255, 255, 220), 1.2));
    painter.drawPath(edge.translated(0, 2));

    // Slanted grooves right of the bay, and the mark once more at the panel's end.
    const QRectF grooves(bay.right() + 60, area.top() + 14, 330, area.height() - 28);
    painter.save();
    painter.setClipRect(grooves);
    painter.setPen(QPen(QColor(170, 182, 200), 3));
    for (double x = grooves.left() - 20; x < grooves.right(); x += 14)
        painter.drawLine(QPointF(x, area.bottom()), QPointF(x + 40, area.top()));
    painter.restore();
    painter.setPen(QPen(QColor(150, 162, 182), 1));
    painter.drawRoundedRect(grooves, 4, 4);
    const QRectF markBox(area.right() - 66, area.top() + 10, 56, 56);
    const QColor slate(42, 70, 112);
    painter.fillPath(PaintKit::emblemRing(markBox, 1.1), slate);
    painter.fillPath(PaintKit::emblemTriangle(markBox), slate);
}

// The sunken field behind the status line, with three small lights and a groove above it.
void paintStatusField(QPainter &painter, const QRectF &status, double panelTop)
{
    const QRectF field(status.left() - 6, status.top() - 4, status.width() + 2, status.height() + 5);
    QLinearGradient fieldFill(field.topLeft(), field.bottomLeft());
    fieldFill.setColorAt(0, QColor(220, 226, 236));
    fieldFill.setColorAt(0.2, QColor(246, 248, 252));
    fieldFill.setColorAt(1, QColor(252, 253, 255));
    painter.setPen(QPen(QColor(150, 162, 182), 1));
    painter.setBrush(fieldFill);
    painter.drawRoundedRect(field, 6, 6);
    painter.setPen(QPen(QColor(255, 255, 255, 200), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(field.adjusted(-1, -1, 1, 1), 7, 7);

    const QColor lights[] = {accentCyan, QColor(110, 236, 170), QColor(150, 162, 182)};
    for (int i = 0; i < 3; ++i) {
        painter.setPen(QPen(QColor(120, 132, 152), 1));
        painter.setBrush(lights[i]);
        painter.drawRoundedRect(QRectF(field.left() + 4 + i * 22, panelTop + 13, 16, 6), 3, 3);
    }
    painter.setPen(QPen(QColor(176, 186, 202), 1));
    painter.drawLine(QPointF(field.left() + 76, panelTop + 16), QPointF(field.right(), panelTop + 16));
    painter.setPen(QPen(QColor(255, 255, 255), 1));
    painter.drawLine(QPointF(field.left() + 76, panelTop + 17), QPointF(field.right(), panelTop + 17));
}

// The bay in which the launch button sits: a dark recess with light rising from its rim.
void paintLaunchBay(QPainter &painter, const QRectF &bay)
{
    QPainterPath bayShape;
    bayShape.addRoundedRect(bay, 12, 12);
    painter.setPen(QPen(QColor(255, 255, 255, 230), 3));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(bayShape);
    QLinearGradient bayFill(bay.topLeft(), bay.bottomLeft());
    bayFill.setColorAt(0, QColor(6, 12, 32));
    bayFill.setColorAt(1, QColor(20, 40, 82));
    painter.fillPath(bayShape, bayFill);
    painter.save();
    painter.setClipPath(bayShape);
    PaintKit::paintGlow(painter, strokeOf(bayShape, 6), accentCyan, 4);
    painter.restore();
    painter.setPen(QPen(accentCyan, 2));
    painter.drawPath(bayShape);
    painter.setPen(QPen(QColor(70, 90, 120), 1));
    painter.drawRoundedRect(bay.adjusted(-1.5, -1.5, 1.5, 1.5), 13.5, 13.5);
}

// The window onto the notes, cut clear through the scene and framed like the launch bay. Below the
// header it is softly darkened, most just under the header as if that cast a shadow; the frame's glow
// falls outwards onto the scene, never onto the notes.
void paintNotesWindow(QPainter &painter, const QRectF &notes, double headerBottom)
{
    // A little larger than the notes, so that neither its rounded corners nor its frame, softened by
    // the scaling, touch them.
    const QRectF opening = notes.adjusted(-5, -5, 5, 5);
    QPainterPath shape;
    shape.addRoundedRect(opening, 10, 10);
    painter.save();
    painter.setCompositionMode(QPainter::CompositionMode_Clear);
    painter.fillPath(shape, Qt::transparent);
    painter.restore();

    // The header keeps every bit of its contrast, which is scarce: the seam's line of light and the
    // shadow begin on the background picture's first row, not on the header's last.
    const QRectF seam(opening.left(), headerBottom, opening.width(), overlayScale);
    const QRectF body(opening.left(), seam.bottom(), opening.width(), opening.bottom() - seam.bottom());
    QLinearGradient tint(body.topLeft(), body.bottomLeft());
    tint.setColorAt(0, QColor(2, 5, 16, 96));
    tint.setColorAt(0.05, QColor(2, 5, 16, 56));
    tint.setColorAt(1, QColor(2, 5, 16, 72));
    painter.save();
    painter.setClipPath(shape);
    painter.fillRect(seam, QColor(56, 214, 255, 64));
    painter.fillRect(body, tint);
    painter.restore();

    QPainterPath outside;
    outside.addRect(QRectF(0, 0, painter.device()->width(), painter.device()->height()));
    painter.save();
    painter.setClipPath(outside.subtracted(shape));
    PaintKit::paintGlow(painter, strokeOf(shape, 4), QColor(56, 214, 255, 160), 6);
    painter.restore();
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(accentCyan, 2));
    painter.drawPath(shape);
    painter.setPen(QPen(QColor(70, 90, 120), 1));
    painter.drawRoundedRect(opening.adjusted(-1.5, -1.5, 1.5, 1.5), 11.5, 11.5);
}

} // namespace

QImage overlay()
{
    const int width = 1080;
    const int height = 751;
    const double panelTop = 676;
    QImage image = PaintKit::blankImage(width, height);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);

    // Night sky, lighter towards the horizon.
    QLinearGradient sky(0, 0, 0, panelTop);
    sky.setColorAt(0, QColor(4, 7, 24));
    sky.setColorAt(0.38, QColor(11, 20, 52));
    sky.setColorAt(0.70, QColor(28, 48, 96));
    sky.setColorAt(1, QColor(40, 78, 130));
    painter.fillRect(QRectF(0, 0, width, panelTop), sky);
    QRadialGradient horizonGlow(QPointF(width / 2.0, 520), 620);
    horizonGlow.setColorAt(0, QColor(80, 170, 255, 70));
    horizonGlow.setColorAt(1, QColor(80, 170, 255, 0));
    painter.fillRect(QRectF(0, 0, width, panelTop), horizonGlow);

    // The notes fill most of the sky: the moon and the maker's mark keep to the strip right of them.
    const QPointF moonCentre(1004, 250);
    paintStars(painter, QRectF(0, 0, width, 440), 320, 1337, moonCentre, 100);
    paintMoon(painter, moonCentre, 44);
    paintRidges(painter, width, panelTop + 2);

    // The corners of the scene fall off into the dark.
    QRadialGradient vignette(QPointF(width / 2.0, 330), 760);
    vignette.setColorAt(0.55, QColor(0, 0, 0, 0));
    vignette.setColorAt(1, QColor(0, 0, 10, 120));
    painter.fillRect(QRectF(0, 0, width, panelTop), vignette);

    paintEmblem(painter, QRectF(954, 26, 96, 96), 1.0, 7, 235);
    paintNotesWindow(painter, toOverlay(notesInWindow), backgroundTopInWindow * overlayScale);

    // The light panel along the bottom: status line on the left, the launch button in a raised bay.
    const QRectF bay = toOverlay(launchButtonInWindow).adjusted(-10, -9, 10, 20);
    paintPanel(painter, QRectF(0, panelTop, width, height - panelTop), bay);
    paintStatusField(painter, toOverlay(statusLineInWindow), panelTop);
    paintLaunchBay(painter, bay);

    painter.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}

} // namespace Pictures
