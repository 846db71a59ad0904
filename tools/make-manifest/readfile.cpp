#include "commands.h"

#include <QFile>

bool ReadWholeFile(const QString &path, QByteArray *content)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        ReportError(QStringLiteral("cannot open %1: %2").arg(path, file.errorString()));
        return false;
    }
    *content = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        ReportError(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
        return false;
    }
    return true;
}
