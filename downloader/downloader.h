#ifndef DOWNLOADER_H
#define DOWNLOADER_H

#include "documents/installation/downloaditem.h"
#include "documents/installation/filestamp.h"
#include "downloader/serveractivity.h"
#include "downloader/stagingslots.h"
#include "downloader/updateserver.h"
#include "updaterconfig.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QNetworkReply>
#include <QObject>
#include <QSet>
#include <QSslConfiguration>
#include <QSslError>
#include <QString>
#include <QUrl>

#include <memory>
#include <vector>

class QAuthenticator;
class QNetworkAccessManager;
class Patch;
class QNetworkRequest;
class QTimer;
class Transfer;
struct TransferExpectation;
struct TransferOutcome;

// The updater's only network client. It lives on the window's worker thread and talks to the window
// through queued signals only. Each file in flight is a Transfer, which fetches it into the tree
// below the current directory and puts it in place only when it is what the manifest says, or a
// Patch, which makes a large file that has a block list from its old copy and the pieces that it
// lacks, and hands it to a Transfer when it cannot; the Downloader keeps what they share: the queue of transfers, the connection to the server (its access
// managers, when it last sent anything, and whether requests may share connections before their
// answers or go over HTTP/2), the password, and the byte and speed reports.
class Downloader : public QObject
{
    Q_OBJECT

public:
    explicit Downloader(const UpdateServer &server = UpdateServer::Compiled(),
                        const UpdaterConfig::RunSettings &settings = UpdaterConfig::RunSettings());
    ~Downloader() override;

signals:
    void PasswordRequired();
    void BytesDownloaded(int, float);
    void FileDownloaded(QString downloadedFile);
    void NetworkError(QString message, bool bIsHeavy);
    // A download is in place at path (relative to the current directory), with this stamp and the
    // digest of what was written. Comes before its FileDownloaded.
    void FileCommitted(QString path, FileStamp stamp, QString md5);
    // A file at path is patched from its old copy: it now costs this many bytes in place of its size.
    void FetchEstimated(QString path, qint64 bytes);

// The slots interleave public and private sections so that the meta-object keeps their order.
public slots:
    // The worker thread has started: takes up what earlier starts staged, keeps the previous
    // notes, and asks for the new ones.
    void Connect();

private slots:
    // A transfer has stalled: it is asked for again, with a new connection where nothing else runs.
    void Reconnect();

public slots:
    // Starts the run again with a password: every transfer is dropped, and the notes come first.
    void Login(QString pwd);
    // Fetches dir + file (dir empty or ending in "/") and announces it with FileDownloaded,
    // whatever became of it. A request for a file in flight, or beyond as many as may run at once,
    // drops the transfer that it replaces without an announcement.
    void DownloadFile(QString dir, QString file);

private slots:
    // A transfer has written a part: counted for the speed.
    void FilePart();
    // A transfer has met a network error: the window's log hears of it, and a demand for a password
    // stops every transfer.
    void FileError(QNetworkReply::NetworkError code);
    // The access manager has finished a reply: what it tells of the server and the proxies on the
    // way decides whether requests still share connections before their answers, and go over
    // HTTP/2. The first answer over HTTPS has the log say what the handshake agreed on.
    void FileFinished(QNetworkReply *mreply);
    void UpdateDownloadInfo();
    void UpdateSpeedInfo();

public slots:
    // What the files that the run will ask for must be: a request for one of these paths is put in
    // place only with the item's size and digest, where the manifest gives a digest (32 hexadecimal
    // digits). Replaces what was expected before. A request for any other path is for a document,
    // and is bounded by the largest document.
    void ExpectFiles(QList<DownloadItem> files);

private:
    // Whether the file listed as item, which differs, is patched from its old copy rather than
    // fetched whole: it has a block list, and an old copy.
    bool IsPatchable(const DownloadItem &item, const TransferExpectation &expected) const;
    // Why a file that the manifest offers a patch of is fetched whole all the same, for the log;
    // none where no patch was to be had.
    std::optional<QString> WholeFileReason(const DownloadItem &item,
                                           const TransferExpectation &expected) const;
    void StartPatch(const DownloadItem &item, const TransferExpectation &expected,
                    const StagingSlots::Claim &claim);
    // Whether the manifest names a block list for item that may be asked for.
    bool HasBlockList(const DownloadItem &item) const;
    // Fetches the head of the block list of a file that was fetched whole, so that its next patch
    // knows its blocks without reading it through: the head is a small fraction of the file.
    void FetchKnownBlocks(const DownloadItem &item);
    QNetworkRequest RequestFor(const QString &releasePath, QObject *origin) const;
    QNetworkReply *Get(const QNetworkRequest &request, int slot);
    void SendRequest(Transfer *transfer);
    void TransferFinished(Transfer *transfer, const TransferOutcome &outcome);
    void PatchFinished(Patch *patch, const TransferOutcome &outcome);
    // Reports the last bytes of a file, then announces it.
    void Announce(const QString &path, const QString &file, qint64 unreported,
                  const TransferOutcome &outcome);
    // Drops a transfer or a patch without announcing it; what it staged is kept where it can be
    // resumed.
    void Abandon(Transfer *transfer);
    void Abandon(Patch *patch);
    void AbandonAll();
    // Turn a faster mode off for the rest of the run once a server or a proxy mishandles it.
    void StopPipelining(const QString &path);
    void StopHttp2(const QString &path);
    void ReplaceAccessManagers();
    void AnswerChallenge(QNetworkReply *reply, QAuthenticator *authenticator);
    // A server's certificate did not verify: the reply ends unanswered, and the log says why, once
    // for each reason.
    void RefuseCertificate(QNetworkReply *reply, const QList<QSslError> &errors);

    const UpdaterConfig::RunSettings settings;
    const UpdateServer server;
    QSslConfiguration tlsConfiguration;          // every request's over HTTPS, made by Connect
    QString loginPassword;
    bool bPipelining;
    bool bHttp2;
    bool bHttp2Answered = false;                 // the server has answered in HTTP/2
    // Each with connections of its own to the server.
    std::vector<std::unique_ptr<QNetworkAccessManager>> accessManagers;
    QList<Transfer *> transfers;                 // children, in the order they started
    QList<Patch *> patches;                      // children, in the order they started
    QSet<QString> wholeFiles;                    // paths that could not be patched in this run
    QSet<QString> refusals;                      // certificate refusals already logged
    bool bNegotiationLogged = false;
    ServerActivity serverActivity;               // shared by the transfers
    StagingSlots stagingSlots;
    QHash<QString, DownloadItem> expectedFiles;  // by local path
    float currentSpeed = 0.0f;                   // KiB per second
    qint64 speedBytes = 0;                       // written since the last speed computation
    QElapsedTimer speedClock;
    QTimer *speedTimer = nullptr;                // children, created by Connect
    QTimer *infoTimer = nullptr;
};

#endif // DOWNLOADER_H
