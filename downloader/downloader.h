#ifndef DOWNLOADER_H
#define DOWNLOADER_H

#include "documents/filestamp.h"

#include <QElapsedTimer>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <memory>

class QAuthenticator;
class QNetworkAccessManager;
class QTimer;
class StagedFile;

// The updater's only network client. It lives on the window's worker thread and talks to the window
// through queued signals only. It fetches one file at a time into the tree below the current
// directory, starts a stalled transfer again, and reports bytes, speed, errors and password requests.
class Downloader : public QObject
{
    Q_OBJECT

public:
    // The server compiled into this build.
    static QUrl DefaultServerUrl();

    explicit Downloader(const QUrl &server = DefaultServerUrl());
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

private:
    void ReplaceAccessManager();
    void AbandonTransfer();
    void ReportWriteFailure();
    void CommitDownload(StagedFile *file);
    void AnswerChallenge(QNetworkReply *reply, QAuthenticator *authenticator);

    float currentSpeed = 0.0f;                  // KiB per second
    bool bIsDownloading = false;
    qint64 fileBytes = 0;                       // written to the local file in this transfer
    qint64 reportedBytes = 0;                   // fileBytes at the last BytesDownloaded
    qint64 speedBytes = 0;                      // written since the last speed computation
    QString loginPassword;
    QUrl serverUrl;
    std::unique_ptr<StagedFile> localFile;      // discarded unless the transfer succeeds
    QElapsedTimer speedClock;
    QTimer *stallTimer = nullptr;               // children of the downloader, created by Connect
    QTimer *speedTimer = nullptr;
    QTimer *infoTimer = nullptr;
    QString currentDir;
    QString currentFile;
    QNetworkReply *currentReply = nullptr;      // owned by accessManager
    std::unique_ptr<QNetworkAccessManager> accessManager;
    QPointer<QNetworkReply> challengedReply;    // the reply whose challenge has been answered
};

#endif // DOWNLOADER_H
