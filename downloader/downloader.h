#ifndef DOWNLOADER_H
#define DOWNLOADER_H

#include "documents/installation/downloaditem.h"
#include "documents/installation/filestamp.h"
#include "downloader/network/updateserver.h"
#include "downloader/staging/stagingslots.h"
#include "updaterconfig.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QNetworkReply>
#include <QObject>
#include <QSet>
#include <QString>

#include <optional>

class Job;
class QTimer;
class ServerConnection;
struct JobResult;
struct TransferExpectation;

// The updater's only network client. It lives on the window's worker thread and talks to the window
// through queued signals only. Each file in flight is a Job, which fetches it and stages it under
// Config/ for the switch of its pass only when it is what the manifest says (a document goes to its
// place at once): a whole file, or a patch of a large file that has a block list, made from its
// old copy and the pieces that it lacks. The Downloader keeps what the jobs share: their queue and
// their staging slots, the ServerConnection through which every request goes, the judgement of a
// line that stalled, and the byte and speed reports; it announces each job's one result.
class Downloader : public QObject
{
    Q_OBJECT

public:
    explicit Downloader(const UpdateServer &server = UpdateServer::Compiled(),
                        const UpdaterConfig::RunSettings &settings = UpdaterConfig::RunSettings());
    ~Downloader() override;

signals:
    void PasswordRequired();
    // The proxy at proxy ("host:port") wants a login: the run waits for ProxyLogin.
    void ProxyPasswordRequired(QString proxy);
    void BytesDownloaded(int, float);
    void FileDownloaded(QString downloadedFile);
    void NetworkError(QString message, bool bIsHeavy);
    // The file at path (relative to the current directory) has arrived as expected, with this
    // stamp and the digest of what was written: a file of the manifest in its staged copy
    // (StagedCopyOf), where it waits for the switch of its pass, a document in its place. Comes
    // before its FileDownloaded.
    void FileStaged(QString path, FileStamp stamp, QString md5);
    // A file at path is patched from its old copy: it now costs this many bytes in place of its size.
    void FetchEstimated(QString path, qint64 bytes);

// The slots interleave public and private sections so that the meta-object keeps their order.
public slots:
    // The worker thread has started: takes up what earlier starts staged, keeps the previous
    // notes, and asks for the new ones.
    void Connect();

private slots:
    // A fetch has stalled: it is asked for again, with new connections where nothing else runs.
    void Reconnect();

public slots:
    // Starts the run again with a password: every job is dropped, and the notes come first.
    void Login(QString pwd);
    // The same, with the login that the proxy between asks for.
    void ProxyLogin(QString user, QString password);
    // Fetches dir + file (dir empty or ending in "/") and announces it with FileDownloaded,
    // whatever became of it. A request for a file in flight, or beyond as many as may run at once,
    // drops the job that it replaces without an announcement.
    void DownloadFile(QString dir, QString file);

private slots:
    // A job has written a part: counted for the speed.
    void FilePart();
    // A fetch has met a network error: the window's log hears of it, and a demand for a password
    // stops every job.
    void FileError(QNetworkReply::NetworkError code);
    // The access manager has finished a reply: what it tells of the server and the proxies on the
    // way decides whether requests still share connections before their answers, and go over
    // HTTP/2.
    void FileFinished(QNetworkReply *mreply);
    void UpdateDownloadInfo();
    void UpdateSpeedInfo();

public slots:
    // What the files that the run will ask for must be: a request for one of these paths is put in
    // place only with the item's size and digest, where the manifest gives a digest (32 hexadecimal
    // digits). Replaces what was expected before. A request for any other path is for a document,
    // and is bounded by the largest document.
    void ExpectFiles(QList<DownloadItem> files);
    // The player's limit for every transfer together, in bytes per second (0 for none), and pause:
    // both hold back what is read, and a pause holds back every request as well.
    void SetSpeedLimit(qint64 bytesPerSecond);
    void SetPaused(bool bPause);

private:
    // The job for a file at dir + file, expected so, in the staging slot claimed.
    Job *JobFor(const QString &dir, const QString &file, const TransferExpectation &expected,
                int slot);
    // Whether the manifest names a block list for item that may be asked for.
    bool HasBlockList(const DownloadItem &item) const;
    // Why a file that the manifest offers a patch of is fetched whole all the same, for the log;
    // none where no patch was to be had.
    std::optional<QString> WholeFileReason(const DownloadItem &item,
                                           const TransferExpectation &expected) const;
    void JobFinished(Job *job, const JobResult &result);
    // Reports the last bytes of a file.
    void ReportBytes(qint64 bytes);
    // Drops a job without announcing it; what it staged is kept where it can be resumed.
    void Abandon(Job *job);
    void AbandonAll();
    // After a login: the notes are asked for anew, and the speed is measured afresh.
    void StartOver();

    const UpdaterConfig::RunSettings settings;
    ServerConnection *connection;              // child
    QList<Job *> jobs;                         // children, in the order they started
    QSet<QString> wholeFiles;                  // paths that could not be patched in this run
    StagingSlots stagingSlots;
    QHash<QString, DownloadItem> expectedFiles;  // by local path
    float currentSpeed = 0.0f;                 // KiB per second
    qint64 speedBytes = 0;                     // written since the last speed computation
    QElapsedTimer speedClock;
    QTimer *speedTimer = nullptr;              // children, created by Connect
    QTimer *infoTimer = nullptr;
};

#endif // DOWNLOADER_H
