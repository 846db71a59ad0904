#include "programstarter.h"

#include <QFile>
#include <QProcess>

void StartProgram(const QString &path)
{
#ifndef Q_OS_WIN
    if (QFile::exists(path)) {
        QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner
                                        | QFileDevice::ExeGroup | QFileDevice::ExeOther);
    }
#endif
    QProcess::startDetached(path, QStringList());
}
