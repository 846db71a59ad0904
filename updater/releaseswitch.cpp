#include "releaseswitch.h"

#include "app/runlog.h"

#include <QtConcurrent>

ReleaseSwitch::ReleaseSwitch(int retryInterval, QObject *parent)
    : QObject(parent)
    , retryInterval(retryInterval)
{
    retryTimer.setSingleShot(true);
    retryTimer.setInterval(retryInterval);
    connect(&retryTimer, &QTimer::timeout, this, &ReleaseSwitch::Try);
}

ReleaseSwitch::~ReleaseSwitch()
{
    Stop();
}

void ReleaseSwitch::Start(const QList<DownloadItem> &files)
{
    Stop();
    entries.clear();
    entries.reserve(files.size());
    for (const DownloadItem &item : files)
        entries.append({StagedCopyOf(item), item.folder + item.fileName});
    lastHeldUp.clear();
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
    switch (outcome.kind) {
    case SwitchOutcome::Kind::Held: {
        // The player may keep the game open for hours.
        const QString heldUp = QStringLiteral("Cannot replace %1 yet: %2; trying again every %3 s")
                                   .arg(outcome.path, outcome.problem)
                                   .arg(retryInterval / 1000.0);
        if (heldUp != lastHeldUp)
            qCWarning(lcRun).noquote() << heldUp;
        lastHeldUp = heldUp;
        retryTimer.start();
        emit HeldUp(outcome.path);
        return;
    }
    case SwitchOutcome::Kind::Failed:
        emit Failed(outcome.problem);
        return;
    case SwitchOutcome::Kind::Switched:
        qCInfo(lcRun).noquote() << QStringLiteral("Put %1 files in place").arg(entries.size());
        emit Switched(outcome.stamps);
        return;
    }
}
