#include "instancelock.h"

#include "app/updaterfiles.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

namespace {

// QLockFile writes its owner into the lock right after it makes it: a lock that names none for
// longer than this was left by an updater that ended in between.
constexpr qint64 unnamedLockMilliseconds = 2000;

} // namespace

InstanceLock::InstanceLock()
    : lockFile(ConfigFiles::instanceLock)
{
    // A lock is stale only when its owner no longer runs. The default would also take over the lock of
    // an updater that has simply been open for more than 30 seconds.
    lockFile.setStaleLockTime(0);
}

InstanceLock::Outcome InstanceLock::acquire(int waitMilliseconds)
{
    if (!lockFile.tryLock(waitMilliseconds)) {
        if (lockFile.error() != QLockFile::LockFailedError)
            return Outcome::Unavailable;
        // QLockFile never takes a lock without an owner for stale: it would keep out every start.
        qint64 pid = 0;
        QString hostName;
        QString application;
        const QDateTime made = QFileInfo(ConfigFiles::instanceLock).lastModified();
        const bool bUnnamed = !lockFile.getLockInfo(&pid, &hostName, &application)
                              && made.msecsTo(QDateTime::currentDateTime()) > unnamedLockMilliseconds;
        if (!bUnnamed || !lockFile.removeStaleLockFile() || !lockFile.tryLock(0))
            return Outcome::HeldByOther;
    }
    // We own the lock, so a marker that is still there was left by an updater that did not end cleanly.
    return QFile::exists(MarkerFiles::lock) ? Outcome::RecoveredStale : Outcome::Acquired;
}

void InstanceLock::release()
{
    lockFile.unlock();
}
