#include "updaterprogram.h"

#include "app/runlog.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>

QString UpdaterProgramInFolder()
{
    const QString program = QCoreApplication::applicationFilePath();
    QFile file(program);
    QCryptographicHash md5(QCryptographicHash::Md5);
    if (file.open(QIODevice::ReadOnly))
        md5.addData(&file);
    qCInfo(lcRun).noquote() << QStringLiteral("Updater program: %1 (MD5 %2)")
                                   .arg(QDir::toNativeSeparators(program),
                                        QString::fromLatin1(md5.result().toHex()));
    const QString relative = QDir::current().relativeFilePath(program);
    if (relative.startsWith(QLatin1String("..")) || QDir::isAbsolutePath(relative)) {
        qCInfo(lcRun).noquote() << QStringLiteral("The updater program lies outside the current "
                                                  "folder: a release cannot replace it");
        return QString();
    }
    return relative;
}
