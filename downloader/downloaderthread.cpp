#include "downloaderthread.h"

#include "downloader/downloader.h"

#include <QThread>

DownloaderThread::DownloaderThread(const UpdateServer &server,
                                   const UpdaterConfig::RunSettings &settings, QObject *parent)
    : QObject(parent)
    , thread(std::make_unique<QThread>())
    , worker(new Downloader(server, settings))
{
    // Before the thread starts: its started signal runs Connect, which must find the Downloader at
    // home there. Connections decide at each emission where a slot runs.
    worker->moveToThread(thread.get());
    connect(thread.get(), &QThread::started, worker, &Downloader::Connect);
    // The Downloader's network objects belong to the worker thread, so they die there too, as it ends.
    connect(thread.get(), &QThread::finished, worker, &QObject::deleteLater);
}

DownloaderThread::~DownloaderThread()
{
    const bool bStarted = thread->isRunning() || thread->isFinished();
    thread->quit();
    thread->wait();
    // A thread that never ran has not deleted its Downloader.
    if (!bStarted)
        delete worker;
}

void DownloaderThread::Start()
{
    thread->start(QThread::InheritPriority);
}
