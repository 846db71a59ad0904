#include "stagedfile.h"

#include <QFile>
#include <QFileInfo>

StagedFile::StagedFile(const QString &target)
    : target(target)
    , temporary(target + QStringLiteral(".XXXXXX"))
{
}

bool StagedFile::open()
{
    if (!temporary.open()) {
        error = temporary.errorString();
        return false;
    }
    // A temporary file is private to its owner; the file it becomes must not be. An existing
    // target keeps its permissions.
    const QFileInfo previous(target);
    temporary.setPermissions(previous.exists()
                                 ? previous.permissions()
                                 : QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                       | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    return true;
}

bool StagedFile::isOpen() const
{
    return temporary.isOpen();
}

qint64 StagedFile::write(const QByteArray &data)
{
    const qint64 written = temporary.isOpen() ? temporary.write(data) : -1;
    if (written != data.size()) {
        writeFailed = true;
        error = temporary.errorString();
    }
    return written;
}

bool StagedFile::commit()
{
    if (!temporary.isOpen() || writeFailed)
        return false;
    if (!temporary.flush()) {
        error = temporary.errorString();
        return false;
    }
    // QTemporaryFile::rename() never overwrites. Should the process die between the two steps, the
    // target is missing, which the verification pass notices like any other missing file.
    QFile::remove(target);
    if (!temporary.rename(target)) {
        error = temporary.errorString();
        return false;
    }
    // The file now carries the target's name: it must outlive this object.
    temporary.setAutoRemove(false);
    return true;
}

QString StagedFile::fileName() const
{
    return target;
}

QString StagedFile::errorString() const
{
    return error;
}
