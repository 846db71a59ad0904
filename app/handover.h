#ifndef HANDOVER_H
#define HANDOVER_H

#include "app/instancelock.h"

#include <QString>

// The environment variable that tells a new updater program that the previous one hands the
// folder over to it: its value is where the previous program was kept.
inline constexpr char previousProgramVariable[] = "UPDATER_PREVIOUS_PROGRAM";

// Starts the new updater program at program (in the current folder, with this process's
// arguments), lets go of the folder's lock for it, and waits until it says that it runs
// (ConfigFiles::updaterRunning). True once it does; otherwise the new program is ended, the
// previous one (kept at aside) is put back, the new one's digest md5 is not tried again, the lock is
// taken back, and the log says why.
bool HandOver(const QString &program, const QString &aside, const QString &md5, InstanceLock *lock);

// In the new program: says that it runs, once its window is up and its first request answered.
void ConfirmTakeOver();

#endif // HANDOVER_H
