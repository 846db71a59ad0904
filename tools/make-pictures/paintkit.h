#ifndef PAINTKIT_H
#define PAINTKIT_H

#include <QColor>
#include <QImage>
#include <QPainterPath>
#include <QVector>

#include <cstdint>

class QPainter;

// Small drawing helpers shared by the pictures: soft glows, seeded randomness, ridge lines and the
// emblem that marks the program everywhere it appears.
namespace PaintKit {

// The program's two accent colours: the emblem, the glows and the lines of light.
extern const QColor accentCyan;
extern const QColor accentGreen;

// Every picture starts from this: premultiplied ARGB with nothing drawn, the fast format for QPainter.
QImage blankImage(int width, int height);

// Blurs an image in place, three box passes per direction, which is close to a Gaussian of `radius`.
void blur(QImage &image, int radius);

// Paints `shape` in `color`, blurred by `radius`, so that it shines softly onto what lies below.
void paintGlow(QPainter &painter, const QPainterPath &shape, const QColor &color, int radius);

// A tiny seeded generator (xorshift) whose sequence is the same on every compiler and library, so
// that the pictures are remade bit for bit.
class Random
{
public:
    explicit Random(std::uint32_t seed);
    double uniform(double low, double high);

private:
    std::uint32_t state;
};

// Heights of a jagged ridge, by midpoint displacement: 2^detail + 1 samples between 0 and 1, where
// each halving of the step shrinks the displacement by `roughness`.
QVector<double> ridgeHeights(Random &random, int detail, double roughness);

// The ridge as a closed shape: across `width` at `baseline`, rising by `amplitude` times the heights,
// and closed downwards to `bottom`.
QPainterPath ridgeShape(const QVector<double> &heights, double width, double baseline,
                        double amplitude, double bottom);

// `path` as the outline of a line `width` wide, with round joins and ends.
QPainterPath strokeOf(const QPainterPath &path, double width);

// The program's emblem inside the square `box`: a ring, open at the upper right, ending in an arrow
// head, around a play triangle. `stroke` scales the line weights (1 for large sizes, more for tiny ones).
QPainterPath emblemRing(const QRectF &box, double stroke);
QPainterPath emblemTriangle(const QRectF &box);

// The emblem in the accent colours, lit from above, at opacity `alpha`, with a glow behind it when
// `glowRadius` > 0.
void paintEmblem(QPainter &painter, const QRectF &box, double stroke, int glowRadius, int alpha);

} // namespace PaintKit

#endif // PAINTKIT_H
