#include "downloader.h"

#include "documents/documentfiles.h"
#include "downloader/downloadpath.h"
#include "downloader/networkerrors.h"
#include "downloader/stagedfile.h"
#include "downloader/transferspeed.h"
#include "updaterconfig.h"

#include <QAuthenticator>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QTimer>

#include <utility>

Q_LOGGING_CATEGORY(lcDownloader, "updater.downloader")

namespace {

constexpr int stallInterval = 5000;
constexpr int speedInterval = 1000;
constexpr int infoInterval = 100;
constexpr qint64 readBufferSize = 262144;

// The previous notes survive as ReleaseNotes.old for the comparison with the new ones; the manifest
// is always fetched anew.
void RotateReleaseNotes()
{
    QFile::remove(DocumentFiles::previousReleaseNotes);
    QFile::copy(DocumentFiles::releaseNotes, DocumentFiles::previousReleaseNotes);
    QFile::remove(DocumentFiles::releaseNotes);
    QFile::remove(DocumentFiles::manifest);
}

bool IsCompleteAnswer(const QNetworkReply *reply)
{
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    return reply->error() == QNetworkReply::NoError && status >= 200 && status < 300;
}

} // namespace

QUrl Downloader::DefaultServerUrl()
{
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(QString::fromUtf8(UpdaterConfig::serverHost), QUrl::DecodedMode);
    url.setPort(UpdaterConfig::serverPort);
    return url;
}

Downloader::Downloader(const QUrl &server)
    : serverUrl(server)
{
    // FileCommitted crosses to the window's thread.
    qRegisterMetaType<FileStamp>();
}

Downloader::~Downloader()
{
    // Runs on the worker thread as it ends: a transfer cut short here must leave no file behind.
    AbandonTransfer();
    if (accessManager)
        accessManager->disconnect(this);
}

void Downloader::Connect()
{
    qDebug() << "Downloader::Connect";
    // What a run that was killed mid-transfer had staged is of no use to this one.
    QFile::remove(StagedFile::stagingPath());
    RotateReleaseNotes();
    currentSpeed = 0.0f;
    currentFile.clear();

    stallTimer = new QTimer(this);
    speedTimer = new QTimer(this);
    infoTimer = new QTimer(this);
    // Single-shot, armed again by their handlers, so that each interval counts from the end of the
    // previous handler.
    for (QTimer *timer : {stallTimer, speedTimer, infoTimer})
        timer->setSingleShot(true);
    connect(stallTimer, &QTimer::timeout, this, &Downloader::Reconnect);
    connect(speedTimer, &QTimer::timeout, this, &Downloader::UpdateSpeedInfo);
    connect(infoTimer, &QTimer::timeout, this, &Downloader::UpdateDownloadInfo);

    speedBytes = 0;
    speedClock.start();
    speedTimer->start(speedInterval);
    infoTimer->start(infoInterval);

    Login(QString());
}

void Downloader::Reconnect()
{
    qDebug() << "Downloader::Reconnect";
    // A fresh manager, so that the stalled connection is not reused for the new request.
    ReplaceAccessManager();
    DownloadFile(currentDir, currentFile);
}

void Downloader::Login(QString pwd)
{
    qDebug() << "Downloader::Login";
    loginPassword = pwd;
    // The old manager may have cached the previous credentials and would present them first.
    ReplaceAccessManager();
    if (!speedTimer->isActive()) {
        // A password request stopped the speed computation; start it afresh.
        speedBytes = 0;
        speedClock.restart();
        speedTimer->start(speedInterval);
    }
    DownloadFile(QString(), DocumentFiles::releaseNotes);
}

void Downloader::DownloadFile(QString dir, QString file)
{
    qDebug() << "Downloader::DownloadFile";
    // The window has moved on: whatever still runs is dropped without an announcement.
    AbandonTransfer();

    if (!IsSafeDownloadPath(dir, file)) {
        qCWarning(lcDownloader) << "Refused to download to an unsafe path:"
                                << dir + file;
        emit FileDownloaded(file);
        return;
    }

    QUrl url = serverUrl;
    url.setPath(QStringLiteral("/qor_app/") + dir + file, QUrl::DecodedMode);

    fileBytes = 0;
    reportedBytes = 0;
    currentDir = dir;
    currentFile = file;

    if (!dir.isEmpty())
        QDir().mkpath(dir);
    // The previous copy stays in place until the new one has arrived whole.
    localFile = std::make_unique<StagedFile>(dir + file);
    if (!localFile->open()) {
        ReportWriteFailure();
        localFile.reset();
        emit FileDownloaded(file);
        return;
    }

    bIsDownloading = true;
    currentReply = accessManager->get(QNetworkRequest(url));
    currentReply->setReadBufferSize(readBufferSize);
    connect(currentReply, &QNetworkReply::readyRead, this, &Downloader::FilePart);
    connect(currentReply, &QNetworkReply::errorOccurred, this, &Downloader::FileError);
    stallTimer->start(stallInterval);
}

void Downloader::FilePart()
{
    const QByteArray data = currentReply->readAll();
    const qint64 written = localFile->write(data);
    if (written != data.size()) {
        ReportWriteFailure();
        // Whatever else arrives could not be written either. AbandonTransfer lets go of the reply
        // before it aborts it, so the abort neither reports an error nor ends the transfer twice.
        AbandonTransfer();
        emit FileDownloaded(currentFile);
        return;
    }
    stallTimer->start(stallInterval);
    fileBytes += written;
    speedBytes += written;
}

void Downloader::FileError(QNetworkReply::NetworkError code)
{
    qDebug() << "Downloader::FileError";
    const QString message = NetworkErrorMessage(code);
    if (!message.isEmpty())
        emit NetworkError(message, true);
    if (code == QNetworkReply::AuthenticationRequiredError) {
        emit PasswordRequired();
        bIsDownloading = false;
        stallTimer->stop();
        speedTimer->stop();
    }
}

void Downloader::FileFinished(QNetworkReply *mreply)
{
    // An abandoned reply: whoever dropped it has already scheduled its deletion.
    if (mreply != currentReply)
        return;
    qDebug() << "Downloader::FileFinished";

    if (bIsDownloading && currentReply->bytesAvailable() > 0) {
        FilePart();
        // A last part that could not be written has ended the transfer already.
        if (!currentReply)
            return;
    }
    currentReply->disconnect(this);
    currentReply = nullptr;
    mreply->deleteLater();
    fileBytes = 0;
    reportedBytes = 0;

    // Leaving this scope without a commit discards what was written.
    std::unique_ptr<StagedFile> file = std::move(localFile);
    if (!bIsDownloading)
        return;
    bIsDownloading = false;
    stallTimer->stop();
    if (IsCompleteAnswer(mreply))
        CommitDownload(file.get());
    // The staging file is free before the next request can come.
    file.reset();
    emit FileDownloaded(currentFile);
}

void Downloader::UpdateDownloadInfo()
{
    // A single report stays within int even if the timer was held up for long.
    const int delta = static_cast<int>(qMin<qint64>(fileBytes - reportedBytes, INT_MAX));
    emit BytesDownloaded(delta, currentSpeed);
    reportedBytes += delta;
    infoTimer->start(infoInterval);
}

void Downloader::UpdateSpeedInfo()
{
    currentSpeed = TransferSpeed(speedBytes, speedClock.restart());
    speedBytes = 0;
    speedTimer->start(speedInterval);
}

void Downloader::ReplaceAccessManager()
{
    AbandonTransfer();
    if (accessManager) {
        accessManager->disconnect(this);
        accessManager.release()->deleteLater();
    }
    accessManager = std::make_unique<QNetworkAccessManager>();
    connect(accessManager.get(), &QNetworkAccessManager::finished, this, &Downloader::FileFinished);
    connect(accessManager.get(), &QNetworkAccessManager::authenticationRequired,
            this, &Downloader::AnswerChallenge);
}

void Downloader::AbandonTransfer()
{
    if (QNetworkReply *reply = std::exchange(currentReply, nullptr)) {
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
    localFile.reset();
    bIsDownloading = false;
    if (stallTimer)
        stallTimer->stop();
}

void Downloader::ReportWriteFailure()
{
    emit NetworkError(QStringLiteral("Cannot write %1 for %2: %3")
                          .arg(StagedFile::stagingPath(), localFile->fileName(),
                               localFile->errorString()),
                      true);
}

void Downloader::CommitDownload(StagedFile *file)
{
    if (!file->commit()) {
        emit NetworkError(QStringLiteral("Cannot replace %1: %2")
                              .arg(file->fileName(), file->errorString()),
                          true);
        return;
    }
    // Without a stamp the next verification pass reads the file, as it would any other.
    if (const std::optional<FileStamp> stamp = ReadFileStamp(file->fileName()))
        emit FileCommitted(file->fileName(), *stamp, file->md5());
}

void Downloader::AnswerChallenge(QNetworkReply *reply, QAuthenticator *authenticator)
{
    // Asked a second time for the same reply, the password was wrong: leaving the authenticator
    // empty ends the reply with AuthenticationRequiredError, so the user is asked again.
    if (reply != currentReply || loginPassword.isEmpty() || challengedReply == reply)
        return;
    challengedReply = reply;
    authenticator->setUser(QString::fromUtf8(UpdaterConfig::authUser));
    authenticator->setPassword(loginPassword);
}
