#ifndef DOWNLOADERTHREAD_H
#define DOWNLOADERTHREAD_H

#include "downloader/network/updateserver.h"
#include "updaterconfig.h"

#include <QObject>

#include <memory>

class Downloader;
class QThread;

// The worker thread and the Downloader that lives on it, as the window runs them (and the tests, and
// the benchmarks): the thread's start runs Connect, everything that reaches the Downloader from
// another thread arrives queued, and destroying this stops the thread and joins it, after which the
// Downloader has been deleted on its own thread.
class DownloaderThread : public QObject
{
    Q_OBJECT

public:
    DownloaderThread(const UpdateServer &server, const UpdaterConfig::RunSettings &settings,
                     QObject *parent = nullptr);
    ~DownloaderThread() override;

    // Connections to it made before Start() hear everything that it says.
    Downloader *downloader() const { return worker; }
    QThread *workerThread() const { return thread.get(); }
    void Start();

private:
    std::unique_ptr<QThread> thread;
    Downloader *worker;  // no parent: it is deleted on its thread as that ends
};

#endif // DOWNLOADERTHREAD_H
