#include "pictures.h"

#include "paintkit.h"

#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>
#include <QtMath>

using PaintKit::accentCyan;
using PaintKit::accentGreen;
using PaintKit::paintEmblem;
using PaintKit::Random;
using PaintKit::strokeOf;

namespace Pictures {

QImage launchArrow()
{
    QImage image = PaintKit::blankImage(57, 40);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);

    // A play triangle chased by a chevron: "go".
    QPainterPath triangle;
    triangle.moveTo(12, 9);
    triangle.lineTo(32, 20);
    triangle.lineTo(12, 31);
    triangle.closeSubpath();
    const QPainterPath rounded = strokeOf(triangle, 3).united(triangle);
    QPainterPath chevronLine;
    chevronLine.moveTo(35, 10.5);
    chevronLine.lineTo(44.5, 20);
    chevronLine.lineTo(35, 29.5);
    const QPainterPath arrow = rounded.united(strokeOf(chevronLine, 5)).simplified();

    PaintKit::paintGlow(painter, arrow, QColor(40, 200, 255, 255), 2);

    QLinearGradient fill(0, 8, 0, 32);
    fill.setColorAt(0, QColor(236, 255, 246));
    fill.setColorAt(0.45, QColor(110, 244, 180));
    fill.setColorAt(1, QColor(24, 196, 232));
    painter.fillPath(arrow, fill);
    painter.setPen(QPen(QColor(6, 70, 92, 170), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(arrow);

    // A glint along the upper edges.
    painter.save();
    painter.setClipPath(arrow);
    QLinearGradient gloss(0, 8, 0, 20);
    gloss.setColorAt(0, QColor(255, 255, 255, 150));
    gloss.setColorAt(1, QColor(255, 255, 255, 0));
    painter.fillRect(QRectF(0, 0, 57, 20), gloss);
    painter.restore();
    painter.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}

QImage mainBackground()
{
    QImage image = PaintKit::blankImage(800, 570);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);

    QLinearGradient fill(0, 0, 0, 570);
    fill.setColorAt(0, QColor(7, 11, 28));
    fill.setColorAt(1, QColor(13, 23, 51));
    painter.fillRect(image.rect(), fill);

    QRadialGradient glow(400, 300, 420);
    glow.setColorAt(0, QColor(40, 90, 160, 60));
    glow.setColorAt(1, QColor(40, 90, 160, 0));
    painter.fillRect(image.rect(), glow);

    // A faint honeycomb, just enough texture to show that the dark is on purpose.
    const double side = 22;
    const double rowHeight = 1.5 * side;
    const double columnWidth = qSqrt(3.0) * side;
    painter.setPen(QPen(QColor(120, 170, 230, 16), 1));
    painter.setBrush(Qt::NoBrush);
    for (int row = -1; row * rowHeight < 570 + side; ++row) {
        for (int column = -1; column * columnWidth < 800 + side; ++column) {
            const QPointF centre(column * columnWidth + (row % 2 ? columnWidth / 2 : 0), row * rowHeight);
            QPolygonF hexagon;
            for (int corner = 0; corner < 6; ++corner) {
                const double angle = qDegreesToRadians(60.0 * corner + 30);
                hexagon << centre + side * QPointF(qCos(angle), qSin(angle));
            }
            painter.drawPolygon(hexagon);
        }
    }
    painter.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}

QImage icon(int size, Shading shading)
{
    QImage image = PaintKit::blankImage(size, size);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const bool full = shading == Shading::Full;

    const double margin = size >= 48 ? size / 32.0 : 0;
    const QRectF tile(margin, margin, size - 2 * margin, size - 2 * margin);
    const double corner = 0.22 * tile.width();
    QPainterPath tileShape;
    tileShape.addRoundedRect(tile, corner, corner);

    // Small icons get heavier lines, so the emblem survives a 16-pixel square.
    const double stroke = size <= 16 ? 1.5 : size <= 24 ? 1.3 : size <= 40 ? 1.12 : 1.0;
    const double emblemSize = (size <= 24 ? 0.92 : 0.80) * tile.width();
    const QRectF emblemBox(tile.center().x() - emblemSize / 2, tile.center().y() - emblemSize / 2,
                           emblemSize, emblemSize);

    if (!full) {
        painter.fillPath(tileShape, QColor(0, 0, 128));
        painter.fillPath(PaintKit::emblemRing(emblemBox, stroke), QColor(0, 255, 255));
        painter.fillPath(PaintKit::emblemTriangle(emblemBox), QColor(255, 255, 255));
        painter.end();
        return image.convertToFormat(QImage::Format_ARGB32);
    }

    if (size >= 48) {
        PaintKit::paintGlow(painter, tileShape.translated(0, size / 96.0),
                            QColor(0, 0, 0, 130), qMax(1, size / 96));
    }
    QLinearGradient tileFill(tile.topLeft(), tile.bottomRight());
    tileFill.setColorAt(0, QColor(30, 72, 128));
    tileFill.setColorAt(1, QColor(8, 16, 44));
    painter.fillPath(tileShape, tileFill);
    QRadialGradient light(tile.center().x(), tile.top(), tile.width() * 0.8);
    light.setColorAt(0, QColor(90, 170, 255, 90));
    light.setColorAt(1, QColor(90, 170, 255, 0));
    painter.fillPath(tileShape, light);

    paintEmblem(painter, emblemBox, stroke, size >= 32 ? qMax(1, size / 40) : 0, 255);

    if (size >= 32) {
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(QColor(255, 255, 255, 60), qMax(1.0, size / 128.0)));
        const double inset = qMax(0.5, size / 256.0);
        painter.drawRoundedRect(tile.adjusted(inset, inset, -inset, -inset), corner - inset, corner - inset);
    }
    painter.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}

QImage aboutBackground()
{
    const int width = 470;
    const int height = 330;
    const double barTop = 288;
    QImage image = PaintKit::blankImage(width, height);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);

    QLinearGradient fill(0, 0, width, barTop);
    fill.setColorAt(0, QColor(9, 15, 38));
    fill.setColorAt(1, QColor(18, 38, 74));
    painter.fillRect(QRectF(0, 0, width, barTop), fill);

    // Faint facets, as if the dark were cut glass.
    Random random(2024);
    const double cell = 47;
    const int columns = int(width / cell) + 2;
    const int rows = int(barTop / cell) + 2;
    QVector<QPointF> points;
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column) {
            points << QPointF(column * cell + random.uniform(-14, 14), row * cell + random.uniform(-14, 14));
        }
    }
    painter.setPen(Qt::NoPen);
    for (int row = 0; row + 1 < rows; ++row) {
        for (int column = 0; column + 1 < columns; ++column) {
            const QPointF a = points[row * columns + column];
            const QPointF b = points[row * columns + column + 1];
            const QPointF c = points[(row + 1) * columns + column];
            const QPointF d = points[(row + 1) * columns + column + 1];
            // Facets brighten towards the lower right, where the light comes from.
            const double bias = (a.x() / width + a.y() / barTop) / 2;
            painter.setBrush(QColor(120, 180, 255, int(random.uniform(0, 14) + 10 * bias)));
            painter.drawPolygon(QPolygonF({a, b, d}));
            painter.setBrush(QColor(120, 180, 255, int(random.uniform(0, 14) + 10 * bias)));
            painter.drawPolygon(QPolygonF({a, d, c}));
        }
    }

    // The emblem as a large watermark, half out of the picture.
    paintEmblem(painter, QRectF(300, 40, 260, 260), 1.0, 0, 22);

    // The lower bar that carries the button, set off by a line of light.
    QLinearGradient bar(0, barTop, 0, height);
    bar.setColorAt(0, QColor(5, 9, 24));
    bar.setColorAt(1, QColor(10, 18, 40));
    painter.fillRect(QRectF(0, barTop, width, height - barTop), bar);
    QPainterPath line;
    line.addRect(QRectF(0, barTop - 0.5, width, 1));
    PaintKit::paintGlow(painter, line, QColor(56, 214, 255, 200), 3);
    QLinearGradient lineFill(0, 0, width, 0);
    lineFill.setColorAt(0, accentGreen);
    lineFill.setColorAt(0.6, accentCyan);
    lineFill.setColorAt(1, QColor(56, 214, 255, 60));
    painter.fillRect(QRectF(0, barTop - 0.5, width, 1.2), lineFill);

    // The dialog's title is set in black: it sits on a plate of middle brightness, on which black
    // reads as well as the white of the rest of the text.
    QPainterPath plate;
    plate.moveTo(0, 8);
    plate.lineTo(186, 8);
    plate.lineTo(168, 38);
    plate.lineTo(0, 38);
    plate.closeSubpath();
    PaintKit::paintGlow(painter, plate.translated(0, 3), QColor(0, 0, 0, 160), 4);
    painter.fillPath(plate, QColor(32, 124, 176));
    painter.fillRect(QRectF(0, 8, 5, 30), accentGreen);

    const QRectF markBox(width - 40, barTop + 8, 30, 30);
    const QColor slate(60, 96, 150);
    painter.fillPath(PaintKit::emblemRing(markBox, 1.1), slate);
    painter.fillPath(PaintKit::emblemTriangle(markBox), slate);
    painter.end();
    return image.convertToFormat(QImage::Format_RGB32);
}

} // namespace Pictures
