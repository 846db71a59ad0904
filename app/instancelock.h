#ifndef INSTANCELOCK_H
#define INSTANCELOCK_H

#include <QLockFile>

// Keeps a second updater from running in the same folder.
//
// The empty marker Config/UU_Lock.setting alone cannot tell a running updater from one that was killed,
// so the guard is a QLockFile beside it: testing for a live owner and claiming the lock are one atomic
// step, and a lock whose owner is gone is taken over instead of blocking every later start.
class InstanceLock
{
public:
    enum class Outcome {
        Acquired,       // no other updater runs here
        RecoveredStale, // the previous updater ended without cleaning up; we took over
        HeldByOther,    // a live updater owns this folder
        Unavailable     // the lock cannot be written here (no rights, read-only medium)
    };

    InstanceLock();

    // Call after Config/ exists, waiting as long for an updater that is about to end. The lock is
    // held until the object dies or release() is called.
    Outcome acquire(int waitMilliseconds = 0);
    // For the program that takes over the folder from this one.
    void release();

private:
    QLockFile lockFile;
};

#endif // INSTANCELOCK_H
