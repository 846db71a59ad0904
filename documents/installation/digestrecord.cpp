#include "digestrecord.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cstring>

namespace {

constexpr char formatName[] = "VerifiedDigests";
constexpr int formatVersion = 1;
constexpr char trailerName[] = "End";
constexpr int digestBytes = 16;

QByteArray checksumOf(const QByteArray &content, int length)
{
    return QCryptographicHash::hash(QByteArray::fromRawData(content.constData(), length),
                                    QCryptographicHash::Md5)
        .toHex();
}

bool isLowerHex(const QByteArray &text)
{
    return std::all_of(text.cbegin(), text.cend(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
    });
}

// Splits line into count fields at single blanks, the last one taking the rest of the line.
QList<QByteArray> splitFields(const QByteArray &line, int count)
{
    QList<QByteArray> fields;
    int from = 0;
    while (fields.size() < count - 1) {
        const int blank = line.indexOf(' ', from);
        if (blank < 0)
            return {};
        fields.append(line.mid(from, blank - from));
        from = blank + 1;
    }
    fields.append(line.mid(from));
    return fields;
}

} // namespace

std::optional<QString> DigestRecord::LoadProblem(const QString &path)
{
    entries.clear();
    const QString damaged = QStringLiteral("it is damaged");
    QFile file(path);
    if (!file.exists())
        return QStringLiteral("it does not exist");
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("it cannot be read: ") + file.errorString();
    const QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return QStringLiteral("it cannot be read: ") + file.errorString();

    const int headerEnd = content.indexOf('\n');
    const QList<QByteArray> header = splitFields(content.left(headerEnd), 2);
    if (headerEnd < 0 || header.size() != 2 || header.at(0) != formatName)
        return damaged;
    bool bNumber = false;
    const int version = header.at(1).toInt(&bNumber);
    if (!bNumber)
        return damaged;
    if (version != formatVersion)
        return QStringLiteral("it has format version %1, not %2").arg(version).arg(formatVersion);

    if (!content.endsWith('\n'))
        return damaged;
    const int trailerStart = content.lastIndexOf('\n', content.size() - 2) + 1;
    const QList<QByteArray> trailer =
        splitFields(content.mid(trailerStart, content.size() - trailerStart - 1), 3);
    if (trailerStart <= headerEnd || trailer.size() != 3 || trailer.at(0) != trailerName
        || trailer.at(2) != checksumOf(content, trailerStart))
        return damaged;
    const int count = trailer.at(1).toInt(&bNumber);
    if (!bNumber || count < 0)
        return damaged;

    QHash<QString, Entry> found;
    found.reserve(count);
    for (int start = headerEnd + 1; start < trailerStart;) {
        const int end = content.indexOf('\n', start);
        const QList<QByteArray> fields = splitFields(content.mid(start, end - start), 6);
        start = end + 1;
        if (fields.size() != 6 || fields.at(0).size() != 2 * digestBytes || !isLowerHex(fields.at(0))
            || fields.at(5).isEmpty())
            return damaged;
        Entry entry;
        bool bNumbers[4];
        entry.stamp.size = fields.at(1).toLongLong(&bNumbers[0]);
        entry.stamp.modified = fields.at(2).toLongLong(&bNumbers[1]);
        entry.stamp.changed = fields.at(3).toLongLong(&bNumbers[2]);
        entry.stamp.identity = fields.at(4).toULongLong(&bNumbers[3]);
        if (!std::all_of(std::begin(bNumbers), std::end(bNumbers), [](bool b) { return b; }))
            return damaged;
        const QByteArray md5 = QByteArray::fromHex(fields.at(0));
        std::memcpy(entry.md5.data(), md5.constData(), digestBytes);
        found.insert(QString::fromUtf8(fields.at(5)), entry);
    }
    if (found.size() != count)
        return damaged;
    entries = std::move(found);
    return std::nullopt;
}

std::optional<QString> DigestRecord::SaveProblem(const QString &path) const
{
    QByteArray content = QByteArray(formatName) + ' ' + QByteArray::number(formatVersion) + '\n';
    content.reserve(entries.size() * 128 + 128);
    for (auto entry = entries.cbegin(); entry != entries.cend(); ++entry) {
        const FileStamp &stamp = entry->stamp;
        content += QByteArray::fromRawData(entry->md5.data(), digestBytes).toHex();
        for (qint64 number : {stamp.size, stamp.modified, stamp.changed})
            content += ' ' + QByteArray::number(number);
        content += ' ' + QByteArray::number(stamp.identity) + ' ' + entry.key().toUtf8() + '\n';
    }
    content += QByteArray(trailerName) + ' ' + QByteArray::number(entries.size()) + ' '
               + checksumOf(content, content.size()) + '\n';

    QDir().mkpath(QFileInfo(path).path());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.commit())
        return file.errorString();
    return std::nullopt;
}

QString DigestRecord::take(const QString &relativePath, const FileStamp &stamp)
{
    const auto found = entries.find(relativePath);
    if (found == entries.end())
        return QString();
    const Entry entry = *found;
    entries.erase(found);
    if (entry.stamp != stamp)
        return QString();
    return QString::fromLatin1(QByteArray::fromRawData(entry.md5.data(), digestBytes).toHex());
}

void DigestRecord::insert(const QString &relativePath, const FileStamp &stamp, const QString &md5)
{
    const QByteArray digest = QByteArray::fromHex(md5.toLatin1());
    // Whatever is not a digest is not worth keeping.
    if (digest.size() != digestBytes)
        return;
    Entry entry;
    entry.stamp = stamp;
    std::memcpy(entry.md5.data(), digest.constData(), digestBytes);
    entries.insert(relativePath, entry);
}

void DigestRecord::unite(const DigestRecord &other)
{
    for (auto entry = other.entries.cbegin(); entry != other.entries.cend(); ++entry)
        entries.insert(entry.key(), entry.value());
}
