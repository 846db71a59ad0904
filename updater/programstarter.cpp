#include "programstarter.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>

QString StartProgram(const QString &path)
{
    const QFileInfo program(path);
    if (!program.isFile())
        return QStringLiteral("the file is missing");
#ifndef Q_OS_WIN
    QFile::setPermissions(path, program.permissions() | QFileDevice::ExeOwner
                                    | QFileDevice::ExeGroup | QFileDevice::ExeOther);
#endif
    // Qt gives no reason for a detached start that failed.
    if (!QProcess::startDetached(path, QStringList()))
        return QStringLiteral("the system could not start it");
    return QString();
}
