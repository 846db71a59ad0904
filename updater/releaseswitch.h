#ifndef RELEASESWITCH_H
#define RELEASESWITCH_H

#include "downloader/staging/stagedswitch.h"

#include <QFutureWatcher>
#include <QList>
#include <QObject>
#include <QTimer>

#include <memory>

// The switch of a pass's staged files into the installation (SwitchStagedFiles), run on the global
// thread pool so that the window stays responsive while gigabytes are renamed into place. While a
// file holds it up, it tries again by itself every retryInterval ms, until it is through or stopped.
class ReleaseSwitch : public QObject
{
    Q_OBJECT

public:
    ReleaseSwitch(int retryInterval, QObject *parent = nullptr);
    ~ReleaseSwitch() override;

    void Start(const QList<SwitchEntry> &entries);
    // No more tries; one that runs is waited for, and says nothing.
    void Stop();

signals:
    // Each try that is held up says so; the last one is Switched or Failed.
    void Ended(SwitchOutcome outcome);

private:
    void Try();
    void Tried();

    QList<SwitchEntry> entries;
    // One for each try, so that a try that was stopped leaves nothing to say.
    std::unique_ptr<QFutureWatcher<SwitchOutcome>> switching;
    QTimer retryTimer;
};

#endif // RELEASESWITCH_H
