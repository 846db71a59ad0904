#ifndef RUNHARNESS_H
#define RUNHARNESS_H

#include "downloader/downloaderthread.h"
#include "support/testsupport.h"
#include "updater/updaterun.h"

#include <QObject>
#include <QStringList>
#include <QUrl>

namespace TestSupport {

// An UpdateRun and a Downloader on a thread of its own, wired as the window wires them, without a
// window: what the window would show is kept here, and a password demand is answered with the next
// of passwords. The run starts as the Downloader does, with the release notes.
class RunHarness : public QObject
{
    Q_OBJECT

public:
    explicit RunHarness(const QUrl &server, const QByteArray &publicKey = QByteArray(),
                        const UpdaterConfig::RunSettings &settings = shortSettings());

    UpdateRun &run() { return updateRun; }

    // Waits until the run has offered the launch or failed; true if it offered the launch.
    bool waitForEnd();
    QString status() const { return statuses.isEmpty() ? QString() : statuses.last(); }

    QStringList statuses;      // every UserMessage, in order
    bool bLaunchAllowed = false;
    int progressMaximum = 0;
    int progressValue = 0;
    QStringList passwords;     // the answers to the prompts, in order
    int prompts = 0;

signals:
    void Login(QString pwd);

private:
    UpdateRun updateRun;
    DownloaderThread worker;
};

} // namespace TestSupport

#endif // RUNHARNESS_H
