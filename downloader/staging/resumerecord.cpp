#include "resumerecord.h"

#include <QFile>
#include <QList>
#include <QSaveFile>

namespace {

constexpr char formatLine[] = "DownloadResume 1";
constexpr qint64 largestRecord = 64 * 1024;

} // namespace

std::optional<QString> ResumeRecord::LoadProblem(const QString &filePath)
{
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return file.errorString();
    // Three lines: the format, "SIZE MD5 VALIDATOR" (the validator in base64), and the path.
    const QList<QByteArray> lines = file.read(largestRecord).split('\n');
    if (lines.size() != 4 || lines.at(0) != formatLine || !lines.at(3).isEmpty())
        return QStringLiteral("it is damaged");
    const QList<QByteArray> fields = lines.at(1).split(' ');
    bool bNumber = false;
    const qint64 listedSize = fields.value(0).toLongLong(&bNumber);
    const QByteArray::FromBase64Result decoded =
        QByteArray::fromBase64Encoding(fields.value(2), QByteArray::AbortOnBase64DecodingErrors);
    if (fields.size() != 3 || !bNumber || listedSize < -1 || fields.at(1).size() != 32 || !decoded
        || lines.at(2).isEmpty())
        return QStringLiteral("it is damaged");
    path = QString::fromUtf8(lines.at(2));
    size = listedSize;
    md5 = QString::fromLatin1(fields.at(1));
    validator = decoded.decoded;
    return std::nullopt;
}

std::optional<QString> ResumeRecord::SaveProblem(const QString &filePath) const
{
    const QByteArray content = QByteArray(formatLine) + '\n' + QByteArray::number(size) + ' '
                               + md5.toLatin1() + ' ' + validator.toBase64() + '\n'
                               + path.toUtf8() + '\n';
    QSaveFile file(filePath);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.commit())
        return file.errorString();
    return std::nullopt;
}
