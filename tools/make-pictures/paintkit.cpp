#include "paintkit.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPathStroker>
#include <QtMath>

#include <array>

namespace PaintKit {

const QColor accentCyan(56, 214, 255);
const QColor accentGreen(125, 255, 196);

QImage blankImage(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

namespace {

// One box pass over `count` values `stride` apart; what lies outside counts as transparent.
void boxPass(float *values, int count, int stride, int radius, QVector<float> &scratch)
{
    scratch.resize(count);
    const float scale = 1.0f / float(2 * radius + 1);
    float sum = 0;
    for (int i = 0; i <= radius && i < count; ++i)
        sum += values[i * stride];
    for (int i = 0; i < count; ++i) {
        scratch[i] = sum * scale;
        const int entering = i + radius + 1;
        const int leaving = i - radius;
        if (entering < count)
            sum += values[entering * stride];
        if (leaving >= 0)
            sum -= values[leaving * stride];
    }
    for (int i = 0; i < count; ++i)
        values[i * stride] = scratch[i];
}

} // namespace

void blur(QImage &image, int radius)
{
    if (radius < 1)
        return;
    image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const int width = image.width();
    const int height = image.height();
    // Premultiplied channels blur without dark fringes at the shape's edges.
    std::array<QVector<float>, 4> channels;
    for (auto &channel : channels)
        channel.resize(width * height);
    for (int y = 0; y < height; ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < width; ++x) {
            const int i = y * width + x;
            channels[0][i] = qAlpha(line[x]);
            channels[1][i] = qRed(line[x]);
            channels[2][i] = qGreen(line[x]);
            channels[3][i] = qBlue(line[x]);
        }
    }
    QVector<float> scratch;
    for (auto &channel : channels) {
        for (int pass = 0; pass < 3; ++pass) {
            for (int y = 0; y < height; ++y)
                boxPass(channel.data() + y * width, width, 1, radius, scratch);
            for (int x = 0; x < width; ++x)
                boxPass(channel.data() + x, height, width, radius, scratch);
        }
    }
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int i = y * width + x;
            const int alpha = qBound(0, qRound(channels[0][i]), 255);
            auto channel = [&](int c) { return qBound(0, qRound(channels[c][i]), alpha); };
            line[x] = qRgba(channel(1), channel(2), channel(3), alpha);
        }
    }
}

void paintGlow(QPainter &painter, const QPainterPath &shape, const QColor &color, int radius)
{
    // The glow is drawn in device pixels, with room for the blur to spread out.
    const QTransform toDevice = painter.combinedTransform();
    const QRect bounds = toDevice.map(shape).boundingRect().toAlignedRect()
                             .adjusted(-3 * radius, -3 * radius, 3 * radius, 3 * radius);
    QImage layer = blankImage(bounds.width(), bounds.height());
    {
        QPainter layerPainter(&layer);
        layerPainter.setRenderHint(QPainter::Antialiasing);
        layerPainter.translate(-bounds.topLeft());
        layerPainter.setTransform(toDevice, true);
        layerPainter.fillPath(shape, color);
    }
    blur(layer, radius);
    painter.save();
    painter.resetTransform();
    painter.drawImage(bounds.topLeft(), layer);
    painter.restore();
}

Random::Random(std::uint32_t seed)
    : state(seed ? seed : 0x9e3779b9u)
{
}

double Random::uniform(double low, double high)
{
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return low + (high - low) * (double(state) / 4294967296.0);
}

QVector<double> ridgeHeights(Random &random, int detail, double roughness)
{
    const int count = (1 << detail) + 1;
    QVector<double> heights(count, 0.0);
    heights[0] = random.uniform(0.2, 0.6);
    heights[count - 1] = random.uniform(0.2, 0.6);
    double spread = 0.5;
    for (int step = count - 1; step > 1; step /= 2) {
        for (int left = 0; left + step < count; left += step) {
            const int middle = left + step / 2;
            heights[middle] = (heights[left] + heights[left + step]) / 2
                              + random.uniform(-spread, spread);
        }
        spread *= roughness;
    }
    double low = heights[0];
    double high = heights[0];
    for (double height : heights) {
        low = qMin(low, height);
        high = qMax(high, height);
    }
    for (double &height : heights)
        height = (height - low) / (high - low);
    return heights;
}

QPainterPath ridgeShape(const QVector<double> &heights, double width, double baseline,
                        double amplitude, double bottom)
{
    QPainterPath shape;
    const double step = width / (heights.size() - 1);
    shape.moveTo(0, bottom);
    for (int i = 0; i < heights.size(); ++i)
        shape.lineTo(i * step, baseline - amplitude * heights[i]);
    shape.lineTo(width, bottom);
    shape.closeSubpath();
    return shape;
}

QPainterPath strokeOf(const QPainterPath &path, double width)
{
    QPainterPathStroker stroker;
    stroker.setWidth(width);
    stroker.setJoinStyle(Qt::RoundJoin);
    stroker.setCapStyle(Qt::RoundCap);
    return stroker.createStroke(path);
}

QPainterPath emblemRing(const QRectF &box, double stroke)
{
    const QPointF centre = box.center();
    const double size = box.width();
    const double radius = 0.36 * size;
    const double thickness = qMin(0.11 * size * stroke, 0.2 * size);
    const QRectF circle(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);

    // The ring runs clockwise from just below three o'clock round to the upper right, where it ends
    // in an arrow head pointing into the gap: "update, then go".
    const double endAngle = 62;
    QPainterPath arc;
    arc.arcMoveTo(circle, endAngle);
    arc.arcTo(circle, endAngle, 288);
    QPainterPathStroker stroker;
    stroker.setWidth(thickness);
    stroker.setCapStyle(Qt::FlatCap);
    QPainterPath ring = stroker.createStroke(arc);

    const double radians = qDegreesToRadians(endAngle);
    const QPointF outward(qCos(radians), -qSin(radians));
    const QPointF forward(qSin(radians), qCos(radians));
    const QPointF base = centre + radius * outward;
    const double overhang = 0.55 * thickness;
    QPainterPath head;
    head.moveTo(base + (thickness / 2 + overhang) * outward);
    head.lineTo(base + 1.3 * thickness * forward);
    head.lineTo(base - (thickness / 2 + overhang) * outward);
    head.closeSubpath();
    return ring.united(head).simplified();
}

QPainterPath emblemTriangle(const QRectF &box)
{
    const QPointF centre = box.center();
    const double size = box.width();
    // The triangle's centre of area sits a little right of its box centre, so it looks centred.
    const double left = centre.x() - 0.10 * size;
    QPainterPath triangle;
    triangle.moveTo(left, centre.y() - 0.15 * size);
    triangle.lineTo(centre.x() + 0.16 * size, centre.y());
    triangle.lineTo(left, centre.y() + 0.15 * size);
    triangle.closeSubpath();
    return triangle;
}

void paintEmblem(QPainter &painter, const QRectF &box, double stroke, int glowRadius, int alpha)
{
    const QPainterPath ring = emblemRing(box, stroke);
    const QPainterPath triangle = emblemTriangle(box);
    if (glowRadius > 0) {
        QColor glow = accentCyan;
        glow.setAlpha(alpha * 150 / 255);
        paintGlow(painter, ring.united(triangle), glow, glowRadius);
    }
    QColor top = accentGreen;
    QColor bottom = accentCyan;
    top.setAlpha(alpha);
    bottom.setAlpha(alpha);
    QLinearGradient ringFill(box.topLeft(), box.bottomLeft());
    ringFill.setColorAt(0, top);
    ringFill.setColorAt(1, bottom);
    painter.fillPath(ring, ringFill);

    QLinearGradient triangleFill(box.topLeft(), box.bottomLeft());
    triangleFill.setColorAt(0, QColor(255, 255, 255, alpha));
    triangleFill.setColorAt(1, QColor(200, 238, 255, alpha));
    painter.fillPath(triangle, triangleFill);
}

} // namespace PaintKit
