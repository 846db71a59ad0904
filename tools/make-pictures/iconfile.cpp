#include "iconfile.h"

#include <QBuffer>

#include <algorithm>
#include <climits>

namespace IconFile {

namespace {

// Pixels less opaque than this are cut out by the AND mask of the palette bitmaps.
constexpr int maskAlpha = 128;

QVector<QRgb> windowsColours()
{
    return {0xff000000, 0xff800000, 0xff008000, 0xff808000, 0xff000080, 0xff800080, 0xff008080,
            0xffc0c0c0, 0xff808080, 0xffff0000, 0xff00ff00, 0xffffff00, 0xff0000ff, 0xffff00ff,
            0xff00ffff, 0xffffffff};
}

// A palette for one picture by median cut: split the box of colours with the widest channel at its
// median until there are as many boxes as entries, then take each box's mean.
QVector<QRgb> medianCutPalette(const QImage &image, int entries)
{
    QVector<QRgb> pixels;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            if (qAlpha(pixel) >= maskAlpha)
                pixels << (pixel | 0xff000000);
        }
    }
    struct Box
    {
        int begin;
        int end;
    };
    auto channel = [](QRgb pixel, int which) {
        return which == 0 ? qRed(pixel) : which == 1 ? qGreen(pixel) : qBlue(pixel);
    };
    auto widest = [&](const Box &box, int *range) {
        int best = 0;
        *range = -1;
        for (int which = 0; which < 3; ++which) {
            int low = 255;
            int high = 0;
            for (int i = box.begin; i < box.end; ++i) {
                low = qMin(low, channel(pixels[i], which));
                high = qMax(high, channel(pixels[i], which));
            }
            if (high - low > *range) {
                *range = high - low;
                best = which;
            }
        }
        return best;
    };

    // Entry 0 stays black: it is what the masked pixels show.
    QVector<Box> boxes{{0, int(pixels.size())}};
    while (boxes.size() < entries - 1) {
        int chosen = -1;
        int chosenRange = 0;
        int chosenChannel = 0;
        for (int i = 0; i < boxes.size(); ++i) {
            if (boxes[i].end - boxes[i].begin < 2)
                continue;
            int range = 0;
            const int which = widest(boxes[i], &range);
            if (range > chosenRange) {
                chosen = i;
                chosenRange = range;
                chosenChannel = which;
            }
        }
        if (chosen < 0)
            break;
        Box box = boxes[chosen];
        std::sort(pixels.begin() + box.begin, pixels.begin() + box.end, [&](QRgb a, QRgb b) {
            return channel(a, chosenChannel) < channel(b, chosenChannel);
        });
        const int middle = (box.begin + box.end) / 2;
        boxes[chosen] = {box.begin, middle};
        boxes << Box{middle, box.end};
    }

    QVector<QRgb> palette{0xff000000};
    for (const Box &box : qAsConst(boxes)) {
        if (box.end == box.begin)
            continue;
        qint64 sum[3] = {0, 0, 0};
        for (int i = box.begin; i < box.end; ++i) {
            for (int which = 0; which < 3; ++which)
                sum[which] += channel(pixels[i], which);
        }
        const int count = box.end - box.begin;
        palette << qRgb(int(sum[0] / count), int(sum[1] / count), int(sum[2] / count));
    }
    palette.resize(entries);
    return palette;
}

int nearest(const QVector<QRgb> &palette, QRgb pixel)
{
    int best = 0;
    int bestDistance = INT_MAX;
    for (int i = 0; i < palette.size(); ++i) {
        const int red = qRed(palette[i]) - qRed(pixel);
        const int green = qGreen(palette[i]) - qGreen(pixel);
        const int blue = qBlue(palette[i]) - qBlue(pixel);
        // Weighted as the eye weighs the channels.
        const int distance = 3 * red * red + 4 * green * green + 2 * blue * blue;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = i;
        }
    }
    return best;
}

int rowBytes(int width, int bitCount)
{
    return ((width * bitCount + 31) / 32) * 4;
}

void writeLittle(QByteArray &out, quint32 value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.append(char((value >> (8 * i)) & 0xff));
}

// A device-independent bitmap as icons store it: a BITMAPINFOHEADER of twice the height, the palette,
// the colour rows bottom-up, then the one-bit AND mask bottom-up.
QByteArray bitmapImage(const QImage &source, int bitCount)
{
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    const int width = image.width();
    const int height = image.height();
    QVector<QRgb> palette;
    if (bitCount == 8)
        palette = medianCutPalette(image, 256);
    else if (bitCount == 4)
        palette = windowsColours();

    const int colourRow = rowBytes(width, bitCount);
    const int maskRow = rowBytes(width, 1);
    QByteArray colours(colourRow * height, '\0');
    QByteArray mask(maskRow * height, '\0');
    for (int y = 0; y < height; ++y) {
        char *colourLine = colours.data() + (height - 1 - y) * colourRow;
        char *maskLine = mask.data() + (height - 1 - y) * maskRow;
        for (int x = 0; x < width; ++x) {
            const QRgb pixel = image.pixel(x, y);
            const bool cutOut = qAlpha(pixel) < maskAlpha;
            if (cutOut)
                maskLine[x / 8] = char(maskLine[x / 8] | (0x80 >> (x % 8)));
            if (bitCount == 32) {
                char *bgra = colourLine + 4 * x;
                bgra[0] = char(qBlue(pixel));
                bgra[1] = char(qGreen(pixel));
                bgra[2] = char(qRed(pixel));
                bgra[3] = char(qAlpha(pixel));
                continue;
            }
            const int index = cutOut ? 0 : nearest(palette, pixel);
            if (bitCount == 8)
                colourLine[x] = char(index);
            else
                colourLine[x / 2] = char(colourLine[x / 2] | (x % 2 ? index : index << 4));
        }
    }

    QByteArray out;
    writeLittle(out, 40, 4);
    writeLittle(out, quint32(width), 4);
    writeLittle(out, quint32(2 * height), 4);
    writeLittle(out, 1, 2);
    writeLittle(out, quint32(bitCount), 2);
    writeLittle(out, 0, 4);                                   // BI_RGB
    writeLittle(out, quint32(colours.size() + mask.size()), 4);
    writeLittle(out, 0, 4);
    writeLittle(out, 0, 4);
    writeLittle(out, quint32(palette.size()), 4);
    writeLittle(out, 0, 4);
    for (QRgb colour : qAsConst(palette)) {
        out.append(char(qBlue(colour)));
        out.append(char(qGreen(colour)));
        out.append(char(qRed(colour)));
        out.append('\0');
    }
    out += colours;
    out += mask;
    return out;
}

QByteArray pngImage(const QImage &image)
{
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    image.convertToFormat(QImage::Format_ARGB32).save(&buffer, "PNG");
    return out;
}

} // namespace

QByteArray encode(const QVector<Entry> &entries)
{
    QVector<QByteArray> images;
    for (const Entry &entry : entries)
        images << (entry.png ? pngImage(entry.image) : bitmapImage(entry.image, entry.bitCount));

    QByteArray out;
    writeLittle(out, 0, 2);
    writeLittle(out, 1, 2);                                   // icon, not cursor
    writeLittle(out, quint32(entries.size()), 2);
    quint32 offset = 6 + 16 * quint32(entries.size());
    for (int i = 0; i < entries.size(); ++i) {
        const Entry &entry = entries[i];
        // 256 does not fit in a byte; the format writes it as 0.
        out.append(char(entry.image.width() & 0xff));
        out.append(char(entry.image.height() & 0xff));
        out.append(char(entry.bitCount == 4 ? 16 : 0));
        out.append('\0');
        writeLittle(out, 1, 2);
        writeLittle(out, quint32(entry.bitCount), 2);
        writeLittle(out, quint32(images[i].size()), 4);
        writeLittle(out, offset, 4);
        offset += quint32(images[i].size());
    }
    for (const QByteArray &image : qAsConst(images))
        out += image;
    return out;
}

} // namespace IconFile
