#ifndef DOWNLOADER_H
#define DOWNLOADER_H

#include "documents/installation/downloaditem.h"
#include "documents/installation/filestamp.h"
#include "downloader/resumerecord.h"
#include "updaterconfig.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QNetworkReply>
#include <QObject>
#include <QString>
#include <QUrl>

#include <memory>
#include <vector>

class QAuthenticator;
class QNetworkAccessManager;
class QTimer;
class Transfer;
struct TransferExpectation;

// The updater's only network client. It lives on the window's worker thread and talks to the window
// through queued signals only. It fetches files into the tree below the current directory, puts a
// file in place only when it is what the manifest says, resumes a stalled or cut transfer (also one
// that an earlier start left), and reports bytes, speed, errors and password requests.
class Downloader : public QObject
{
    Q_OBJECT

public:
    // The server compiled into this build.
    static QUrl DefaultServerUrl();

    explicit Downloader(const QUrl &server = DefaultServerUrl(),
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

// The slots interleave public and private sections so that the meta-object keeps their order.
public slots:
    void Connect();

private slots:
    void Reconnect();

public slots:
    void Login(QString pwd);
    void DownloadFile(QString dir, QString file);

private slots:
    void FilePart();
    void FileError(QNetworkReply::NetworkError code);
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
    // What an earlier transfer staged and may be resumed: by an earlier start, or by this one before
    // it had to let go (a password, a new request).
    struct Leftover
    {
        int slot;
        ResumeRecord record;
    };

    TransferExpectation ExpectationFor(const QString &path) const;
    // Takes up what earlier starts left staged in Config/, removing what cannot be resumed.
    void FindLeftovers();
    void DiscardLeftover(const QString &path);
    // The lowest slot that no transfer and no leftover holds.
    int FreeSlot() const;
    void SendRequest(Transfer *transfer);
    // Requests the next attempt of a transfer whose attempt stalled or was cut off, or gives it up.
    void RetryOrGiveUp(Transfer *transfer);
    Transfer *TransferOf(const QObject *reply) const;
    // Ends a transfer: its reply is dropped, and it is announced unless the run waits for a password.
    void Finish(Transfer *transfer, bool bAnnounce);
    void FinishWithProblem(Transfer *transfer, const QString &problem);
    // Turn a faster mode off for the rest of the run once a server or a proxy mishandles it.
    void StopPipelining(const QString &path);
    void StopHttp2(const QString &path);
    // Drops transfers without announcing them; what they staged is kept as leftovers where it can be
    // resumed, and stays on disk for the next start.
    void Abandon(Transfer *transfer);
    void AbandonTransfers();
    void ReplaceAccessManager();
    void CommitDownload(Transfer *transfer);
    void AnswerChallenge(QNetworkReply *reply, QAuthenticator *authenticator);

    const UpdaterConfig::RunSettings settings;
    bool bPipelining;
    bool bHttp2;
    float currentSpeed = 0.0f;                  // KiB per second
    qint64 speedBytes = 0;                      // written since the last speed computation
    QString loginPassword;
    QUrl serverUrl;
    QElapsedTimer speedClock;
    QTimer *speedTimer = nullptr;               // children of the downloader, created by Connect
    QTimer *infoTimer = nullptr;
    QHash<QString, DownloadItem> expectedFiles; // by local path
    QHash<QString, Leftover> leftovers;         // by local path
    std::vector<std::unique_ptr<Transfer>> transfers;
    std::unique_ptr<QNetworkAccessManager> accessManager;
};

#endif // DOWNLOADER_H
