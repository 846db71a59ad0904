#ifndef ICONFILE_H
#define ICONFILE_H

#include <QByteArray>
#include <QImage>
#include <QVector>

// Writes Windows icon files (.ico), the format that the resource compiler takes for an icon group.
namespace IconFile {

struct Entry
{
    QImage image;     // square, with alpha
    int bitCount;     // 32, 8 (256-colour palette) or 4 (the 16 Windows colours)
    bool png;         // stored as PNG rather than as a bitmap; only for 32 bits
};

QByteArray encode(const QVector<Entry> &entries);

} // namespace IconFile

#endif // ICONFILE_H
