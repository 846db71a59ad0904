#ifndef MAKE_MANIFEST_PROGRESS_H
#define MAKE_MANIFEST_PROGRESS_H

#include "documents/installation/filehash.h"

#include <QEventLoop>
#include <QFuture>
#include <QFutureWatcher>
#include <QTimer>

// Shows how far a hashing pass has come on standard error: a bar redrawn in place when standard
// error is a terminal, nothing otherwise, so that logs and pipes stay clean.
class ProgressBar
{
public:
    explicit ProgressBar(const HashControl &control);
    ~ProgressBar();
    ProgressBar(const ProgressBar &) = delete;
    ProgressBar &operator=(const ProgressBar &) = delete;

    void draw();

private:
    const HashControl &control;
    const bool bTerminal;
};

// Waits for the work of the thread pool that future stands for and returns its result; meanwhile
// the calling thread redraws the progress of control.
template <typename T>
T WaitShowingProgress(const QFuture<T> &future, const HashControl &control)
{
    ProgressBar bar(control);
    QEventLoop loop;
    QTimer redraw;
    QObject::connect(&redraw, &QTimer::timeout, &loop, [&bar] { bar.draw(); });
    redraw.start(100);
    QFutureWatcher<T> watcher;
    QObject::connect(&watcher, &QFutureWatcherBase::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(future);
    loop.exec();
    return watcher.result();
}

#endif // MAKE_MANIFEST_PROGRESS_H
