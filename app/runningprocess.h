#ifndef RUNNINGPROCESS_H
#define RUNNINGPROCESS_H

#include <QtGlobal>

// Whether the process pid (one that this one started detached) still runs.
bool IsProcessRunning(qint64 pid);
// Ends the process pid at once, and waits a moment for it to be gone.
void EndProcess(qint64 pid);

#endif // RUNNINGPROCESS_H
