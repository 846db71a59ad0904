#ifndef DOWNLOADERRUNNER_H
#define DOWNLOADERRUNNER_H

#include "documents/installation/downloaditem.h"
#include "documents/installation/filestamp.h"
#include "downloader/downloaderthread.h"
#include "updaterconfig.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include "downloader/network/updateserver.h"

namespace TestSupport {

// Runs a Downloader on a worker thread of its own, wired as the window wires it: the thread's start
// runs Connect, requests go over queued signals, and the Downloader's signals arrive queued on the
// thread that made the runner, re-emitted under the same names for QSignalSpy. Destroying the runner
// stops the thread and joins it; the Downloader is deleted on its thread as that ends.
class DownloaderRunner : public QObject
{
    Q_OBJECT

public:
    explicit DownloaderRunner(const UpdateServer &server,
                              const UpdaterConfig::RunSettings &settings = {});

    // What the Downloader said, in order of arrival: "NetworkError <message> <heavy|light>",
    // "PasswordRequired" and "FileDownloaded <name>"; byte reports are left out.
    QStringList events() const;
    // The sum of every BytesDownloaded delta so far.
    qint64 reportedBytes() const;
    // Every FileStaged as "<path> <md5>", with " (stale stamp)" if the stamp was not the file's as
    // it arrived.
    QStringList commits() const;

signals:
    // To the Downloader.
    void DownloadFile(QString dir, QString file);
    void Login(QString pwd);
    void ProxyLogin(QString user, QString password);
    void ExpectFiles(QList<DownloadItem> files);
    void SetSpeedLimit(qint64 bytesPerSecond);
    void SetPaused(bool bPause);

    // From the Downloader.
    void PasswordRequired();
    void ProxyPasswordRequired(QString proxy);
    void BytesDownloaded(int deltaBytes, float downloadSpeed);
    void FileDownloaded(QString downloadedFile);
    void NetworkError(QString message, bool bIsHeavy);
    void FileStaged(QString path, FileStamp stamp, QString md5);

private:
    DownloaderThread worker;
    QStringList received;
    QStringList committed;
    qint64 bytes = 0;
};

} // namespace TestSupport

#endif // DOWNLOADERRUNNER_H
