#include "runningprocess.h"

#ifdef Q_OS_WIN
#include <qt_windows.h>

bool IsProcessRunning(qint64 pid)
{
    const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, DWORD(pid));
    if (!process)
        return false;
    const bool bRunning = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return bRunning;
}

void EndProcess(qint64 pid)
{
    const HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, DWORD(pid));
    if (!process)
        return;
    TerminateProcess(process, 1);
    WaitForSingleObject(process, 5000);
    CloseHandle(process);
}
#else
#include <QThread>

#include <csignal>

bool IsProcessRunning(qint64 pid)
{
    return ::kill(pid_t(pid), 0) == 0;
}

void EndProcess(qint64 pid)
{
    ::kill(pid_t(pid), SIGKILL);
    // Detached, it is the init process's to reap: it is gone once it no longer answers.
    for (int tries = 0; tries < 50 && IsProcessRunning(pid); ++tries)
        QThread::msleep(100);
}
#endif
