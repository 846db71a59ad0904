#ifndef RELEASESWITCH_H
#define RELEASESWITCH_H

#include "documents/installation/downloaditem.h"
#include "downloader/staging/stagedswitch.h"

#include <QFutureWatcher>
#include <QList>
#include <QObject>
#include <QTimer>

#include <memory>

// The switch of a round's staged files into the installation (SwitchStagedFiles), run on the global
// thread pool so that the window stays responsive while gigabytes are renamed into place. While a
// file holds it up, it tries again by itself every retryInterval ms, until it is through or stopped;
// the log hears once of each thing that holds it up.
class ReleaseSwitch : public QObject
{
    Q_OBJECT

public:
    ReleaseSwitch(int retryInterval, QObject *parent = nullptr);
    ~ReleaseSwitch() override;

    // Puts the staged copies of files (ConfigFiles::StagedCopyPath) in their places.
    void Start(const QList<DownloadItem> &files);
    // No more tries; one that runs is waited for, and says nothing.
    void Stop();

signals:
    // Every file is in place: the stamp of each of them as it was put there, in their order.
    void Switched(QVector<std::optional<FileStamp>> stamps);
    // The file at path cannot be replaced now: nothing moved, and the switch is tried again.
    void HeldUp(QString path);
    // The switch could not be written down, so nothing moved; it is not tried again.
    void Failed(QString problem);

private:
    void Try();
    void Tried();

    const int retryInterval;
    QList<SwitchEntry> entries;
    QString lastHeldUp;  // the log line of what held the last try up
    // One for each try, so that a try that was stopped leaves nothing to say.
    std::unique_ptr<QFutureWatcher<SwitchOutcome>> switching;
    QTimer retryTimer;
};

#endif // RELEASESWITCH_H
