#ifndef MAKE_MANIFEST_PROGRESS_H
#define MAKE_MANIFEST_PROGRESS_H

#include "documents/installation/filehash.h"

#include <QEventLoop>
#include <QFutureWatcher>
#include <QTimer>
#include <QtConcurrent>

#include <functional>

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

// Runs work on the thread pool and returns its result; meanwhile the calling thread redraws the
// progress of control.
template <typename T>
T RunShowingProgress(std::function<T()> work, const HashControl &control)
{
    ProgressBar bar(control);
    QEventLoop loop;
    QTimer redraw;
    QObject::connect(&redraw, &QTimer::timeout, &loop, [&bar] { bar.draw(); });
    redraw.start(100);
    QFutureWatcher<T> watcher;
    QObject::connect(&watcher, &QFutureWatcherBase::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(QtConcurrent::run(std::move(work)));
    loop.exec();
    return watcher.result();
}

#endif // MAKE_MANIFEST_PROGRESS_H
