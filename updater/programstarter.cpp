#include "programstarter.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>

std::optional<QString> StartProgramProblem(const QString &path)
{
    const QFileInfo program(path);
    if (!program.isFile())
        return QStringLiteral("the file is missing");
#ifndef Q_OS_WIN
    // Only once: every change of the permissions is a change of the file's stamp, after which the
    // next verification pass reads the whole program again.
    if (!program.isExecutable()) {
        QFile::setPermissions(path, program.permissions() | QFileDevice::ExeOwner
                                        | QFileDevice::ExeGroup | QFileDevice::ExeOther);
    }
#endif
    // Qt gives no reason for a detached start that failed.
    if (!QProcess::startDetached(path, QStringList()))
        return QStringLiteral("the system could not start it");
    return std::nullopt;
}
