#include "instancelock.h"

#include "app/updaterfiles.h"

#include <QFile>

InstanceLock::InstanceLock()
    : lockFile(ConfigFiles::instanceLock)
{
    // A lock is stale only when its owner no longer runs. The default would also take over the lock of
    // an updater that has simply been open for more than 30 seconds.
    lockFile.setStaleLockTime(0);
}

InstanceLock::Outcome InstanceLock::acquire()
{
    if (!lockFile.tryLock(0)) {
        return lockFile.error() == QLockFile::LockFailedError ? Outcome::HeldByOther
                                                               : Outcome::Unavailable;
    }
    // We own the lock, so a marker that is still there was left by an updater that did not end cleanly.
    return QFile::exists(MarkerFiles::lock) ? Outcome::RecoveredStale : Outcome::Acquired;
}
