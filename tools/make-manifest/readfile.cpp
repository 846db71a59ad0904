#include "commands.h"

#include <QFile>

FileContent ReadWholeFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {QByteArray(), QStringLiteral("cannot open %1: %2").arg(path, file.errorString())};
    const QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return {QByteArray(), QStringLiteral("cannot read %1: %2").arg(path, file.errorString())};
    return {content, std::nullopt};
}
