#include "releaseswitch.h"

#include <QtConcurrent>

ReleaseSwitch::ReleaseSwitch(int retryInterval, QObject *parent)
    : QObject(parent)
{
    retryTimer.setSingleShot(true);
    retryTimer.setInterval(retryInterval);
    connect(&retryTimer, &QTimer::timeout, this, &ReleaseSwitch::Try);
}

ReleaseSwitch::~ReleaseSwitch()
{
    Stop();
}

void ReleaseSwitch::Start(const QList<SwitchEntry> &switched)
{
    Stop();
    entries = switched;
    Try();
}

void ReleaseSwitch::Stop()
{
    retryTimer.stop();
    if (switching)
        switching->waitForFinished();
    switching.reset();
}

void ReleaseSwitch::Try()
{
    switching = std::make_unique<QFutureWatcher<SwitchOutcome>>();
    connect(switching.get(), &QFutureWatcherBase::finished, this, &ReleaseSwitch::Tried);
    switching->setFuture(
        QtConcurrent::run([entries = entries] { return SwitchStagedFiles(entries); }));
}

void ReleaseSwitch::Tried()
{
    const SwitchOutcome outcome = switching->result();
    if (outcome.kind == SwitchOutcome::Kind::Held)
        retryTimer.start();
    emit Ended(outcome);
}
