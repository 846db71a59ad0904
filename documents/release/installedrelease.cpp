#include "installedrelease.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

const QByteArray header = "InstalledRelease 1\n";
const QByteArray numberField = "Release ";
const QByteArray trailerField = "End ";

QByteArray checksumOf(const QByteArray &content)
{
    return QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex();
}

QByteArray recordOf(qint64 number)
{
    const QByteArray content = header + numberField + QByteArray::number(number) + '\n';
    return content + trailerField + checksumOf(content) + '\n';
}

} // namespace

InstalledReleaseReading ReadInstalledRelease(const QString &path)
{
    QFile file(path);
    if (!file.exists())
        return {std::nullopt, true, QStringLiteral("it does not exist")};
    if (!file.open(QIODevice::ReadOnly))
        return {std::nullopt, false, QStringLiteral("it cannot be read: ") + file.errorString()};
    // A good record is some fifty bytes; more is not one.
    const QByteArray content = file.read(256);
    if (file.error() != QFileDevice::NoError)
        return {std::nullopt, false, QStringLiteral("it cannot be read: ") + file.errorString()};

    const QList<QByteArray> lines = content.split('\n');
    bool bNumber = false;
    const qint64 number = lines.value(1).mid(numberField.size()).toLongLong(&bNumber);
    // Written by recordOf, or damaged: a good record is exactly what recordOf writes for its number.
    if (!bNumber || number < 1 || content != recordOf(number))
        return {std::nullopt, false, QStringLiteral("it is damaged")};
    return {number, false, std::nullopt};
}

std::optional<QString> RaiseInstalledReleaseProblem(const QString &path, qint64 number)
{
    const InstalledReleaseReading recorded = ReadInstalledRelease(path);
    if (recorded.number && *recorded.number >= number)
        return std::nullopt;
    const QByteArray content = recordOf(number);
    QDir().mkpath(QFileInfo(path).path());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.commit())
        return file.errorString();
    return std::nullopt;
}

ReleaseFloor InstalledReleaseFloor(const QString &path, bool bCompletedBefore)
{
    const InstalledReleaseReading recorded = ReadInstalledRelease(path);
    if (recorded.number)
        return {recorded.number, std::nullopt};
    if (recorded.bMissing && !bCompletedBefore)
        return {};
    return {std::nullopt,
            QStringLiteral("Cannot use the record of the installed release %1: %2; this run accepts "
                           "any signed release, even an older one, and records the one it installs")
                .arg(path, *recorded.problem)};
}
