#include "downloader.h"

#include "app/updaterfiles.h"
#include "app/runlog.h"
#include "app/updaterfiles.h"
#include "downloader/downloadpath.h"
#include "downloader/networkerrors.h"
#include "downloader/stagedfile.h"
#include "downloader/transfer.h"
#include "downloader/transferspeed.h"

#include <QAuthenticator>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace {

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

// The connection failed, rather than the server refusing: what came of the file is worth keeping.
bool IsTransportError(QNetworkReply::NetworkError error)
{
    return error != QNetworkReply::NoError && error != QNetworkReply::OperationCanceledError
           && error < QNetworkReply::ProxyConnectionRefusedError;
}

bool IsDigest(const QString &md5)
{
    return md5.size() == 32
           && std::all_of(md5.cbegin(), md5.cend(), [](QChar c) {
                  return (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
                         || (c >= QLatin1Char('a') && c <= QLatin1Char('f'));
              });
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

Downloader::Downloader(const QUrl &server, const UpdaterConfig::RunSettings &settings)
    : settings(settings)
    , bPipelining(settings.bPipelining)
    , bHttp2(settings.bHttp2)
    , serverUrl(server)
{
    // These cross to the window's thread, and from it.
    qRegisterMetaType<FileStamp>();
    qRegisterMetaType<QList<DownloadItem>>();
}

Downloader::~Downloader()
{
    // Runs on the worker thread as it ends: a transfer cut short here leaves nothing in the
    // application's folders, and what it staged only where the next start can resume it.
    AbandonTransfers();
    if (accessManager)
        accessManager->disconnect(this);
}

void Downloader::Connect()
{
    qDebug() << "Downloader::Connect";
    FindLeftovers();
    RotateReleaseNotes();
    currentSpeed = 0.0f;

    speedTimer = new QTimer(this);
    infoTimer = new QTimer(this);
    // Single-shot, armed again by their handlers, so that each interval counts from the end of the
    // previous handler.
    for (QTimer *timer : {speedTimer, infoTimer})
        timer->setSingleShot(true);
    connect(speedTimer, &QTimer::timeout, this, &Downloader::UpdateSpeedInfo);
    connect(infoTimer, &QTimer::timeout, this, &Downloader::UpdateDownloadInfo);

    speedBytes = 0;
    speedClock.start();
    speedTimer->start(settings.speedInterval);
    infoTimer->start(settings.infoInterval);

    Login(QString());
}

void Downloader::Reconnect()
{
    qDebug() << "Downloader::Reconnect";
    std::vector<Transfer *> stalled;
    for (const std::unique_ptr<Transfer> &transfer : transfers) {
        if (transfer->bStalled)
            stalled.push_back(transfer.get());
    }
    // What the replies gathered before they stalled is kept for the attempts that resume them.
    for (auto transfer = stalled.begin(); transfer != stalled.end();) {
        if (!(*transfer)->reply() || (*transfer)->reply()->bytesAvailable() == 0) {
            ++transfer;
            continue;
        }
        const Transfer::ReadResult read = (*transfer)->ReadAvailable(true);
        speedBytes += read.written;
        if (read.problem) {
            FinishWithProblem(*transfer, *read.problem);
            transfer = stalled.erase(transfer);
        } else {
            ++transfer;
        }
    }
    // A connection that carries nothing at all is replaced whole; one stalled transfer among others
    // only loses its own, which the abort of its reply closes.
    if (stalled.size() == transfers.size()) {
        for (Transfer *transfer : stalled) {
            if (transfer->reply())
                transfer->reply()->disconnect(this);
            transfer->DropReply();
        }
        ReplaceAccessManager();
    }
    for (Transfer *transfer : stalled) {
        transfer->bStalled = false;
        // A server or a proxy that drops requests sent before the answers to earlier ones leaves
        // them waiting like this.
        if (transfers.size() > 1)
            StopPipelining(transfer->path());
        // A server that does not speak HTTP/2 may answer its preface with nothing at all.
        if (bHttp2 && !transfer->IsAnswered())
            StopHttp2(transfer->path());
        RetryOrGiveUp(transfer);
    }
}

void Downloader::Login(QString pwd)
{
    qDebug() << "Downloader::Login";
    loginPassword = pwd;
    AbandonTransfers();
    // The old manager may have cached the previous credentials and would present them first.
    ReplaceAccessManager();
    if (!speedTimer->isActive()) {
        // A password request stopped the speed computation; start it afresh.
        speedBytes = 0;
        speedClock.restart();
        speedTimer->start(settings.speedInterval);
    }
    DownloadFile(QString(), DocumentFiles::releaseNotes);
}

void Downloader::DownloadFile(QString dir, QString file)
{
    qDebug() << "Downloader::DownloadFile";
    // A request for a file already in flight, or one beyond as many as may run at once, means that
    // the window has moved on: what it replaces is dropped without an announcement.
    for (auto running = transfers.begin(); running != transfers.end(); ++running) {
        if ((*running)->path() == dir + file) {
            Abandon(running->get());
            break;
        }
    }
    if (int(transfers.size()) >= settings.transfers)
        Abandon(transfers.front().get());

    if (!IsSafeDownloadPath(dir, file)) {
        qCWarning(lcRun) << "Refused to download to an unsafe path:" << dir + file;
        emit FileDownloaded(file);
        return;
    }
    if (!dir.isEmpty())
        QDir().mkpath(dir);
    // The previous copy stays in place until the new one has arrived whole and as expected.
    const std::optional<Leftover> leftover =
        leftovers.contains(dir + file) ? std::optional<Leftover>(leftovers.take(dir + file))
                                       : std::nullopt;
    auto transfer = std::make_unique<Transfer>(dir, file, ExpectationFor(dir + file), settings,
                                               leftover ? leftover->slot : FreeSlot());
    Transfer *started = transfer.get();
    connect(started, &Transfer::Stalled, this, &Downloader::Reconnect);
    connect(started, &Transfer::ReadyToRequest, this, [this, started] { SendRequest(started); });
    if (leftover) {
        transfers.push_back(std::move(transfer));
        started->Resume(leftover->record.validator);
        return;
    }
    if (const std::optional<QString> problem = transfer->OpenProblem()) {
        qCWarning(lcRun).noquote() << *problem;
        emit FileDownloaded(file);
        return;
    }
    transfers.push_back(std::move(transfer));
    SendRequest(started);
}

void Downloader::FilePart()
{
    Transfer *transfer = TransferOf(sender());
    if (!transfer)
        return;
    const Transfer::ReadResult read = transfer->ReadAvailable();
    speedBytes += read.written;
    if (read.problem) {
        FinishWithProblem(transfer, *read.problem);
    } else if (read.bRestart) {
        transfer->reply()->disconnect(this);
        transfer->DropReply();
        SendRequest(transfer);
    } else if (read.bTrickle) {
        transfer->bStalled = true;
        Reconnect();
    }
}

void Downloader::FileError(QNetworkReply::NetworkError code)
{
    qDebug() << "Downloader::FileError";
    const QString message = NetworkErrorMessage(code);
    if (!message.isEmpty())
        emit NetworkError(message, true);
    if (code == QNetworkReply::AuthenticationRequiredError) {
        emit PasswordRequired();
        // The run starts over once the password is given: nothing else may answer in between.
        Transfer *refused = TransferOf(sender());
        std::vector<Transfer *> others;
        for (const std::unique_ptr<Transfer> &transfer : transfers) {
            if (transfer.get() != refused)
                others.push_back(transfer.get());
        }
        for (Transfer *other : others)
            Abandon(other);
        if (refused)
            refused->AwaitPassword();
        speedTimer->stop();
    }
}

void Downloader::FileFinished(QNetworkReply *mreply)
{
    Transfer *transfer = TransferOf(mreply);
    // An abandoned reply: whoever dropped it has already scheduled its deletion.
    if (!transfer)
        return;
    qDebug() << "Downloader::FileFinished";

    if (!transfer->bAwaitingPassword && mreply->bytesAvailable() > 0) {
        const Transfer::ReadResult read = transfer->ReadAvailable(true);
        speedBytes += read.written;
        if (read.problem) {
            FinishWithProblem(transfer, *read.problem);
            return;
        }
        if (read.bRestart) {
            transfer->reply()->disconnect(this);
            transfer->DropReply();
            SendRequest(transfer);
            return;
        }
    }
    if (transfer->bAwaitingPassword) {
        Finish(transfer, false);
        return;
    }
    const bool bAnswered = mreply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
    if (bHttp2 && !bAnswered && IsTransportError(mreply->error())
        && mreply->error() != QNetworkReply::ConnectionRefusedError
        && mreply->error() != QNetworkReply::HostNotFoundError) {
        StopHttp2(transfer->path());
        transfer->reply()->disconnect(this);
        transfer->DropReply();
        SendRequest(transfer);
        return;
    }
    const bool bPipelined = mreply->attribute(QNetworkRequest::HttpPipeliningWasUsedAttribute).toBool();
    // The connection broke while the file arrived: the next attempt asks for the rest.
    if (transfer->BodyIsKept() && IsTransportError(mreply->error())) {
        if (bPipelined)
            StopPipelining(transfer->path());
        transfer->reply()->disconnect(this);
        transfer->DropReply();
        RetryOrGiveUp(transfer);
        return;
    }
    if (IsCompleteAnswer(mreply)) {
        if (const std::optional<QString> problem = transfer->ContentProblem()) {
            qCWarning(lcRun).noquote() << *problem;
            // An answer given to another request of the same connection would look like this.
            if (bPipelined)
                StopPipelining(transfer->path());
        } else {
            CommitDownload(transfer);
        }
    } else if (mreply->error() == QNetworkReply::TooManyRedirectsError) {
        qCWarning(lcRun).noquote() << transfer->RedirectsProblem();
    }
    Finish(transfer, true);
}

void Downloader::UpdateDownloadInfo()
{
    qint64 unreported = 0;
    for (const std::unique_ptr<Transfer> &transfer : transfers)
        unreported += transfer->TakeUnreportedBytes();
    // A single report stays within int even if the timer was held up for long.
    emit BytesDownloaded(static_cast<int>(qMin<qint64>(unreported, INT_MAX)), currentSpeed);
    infoTimer->start(settings.infoInterval);
}

void Downloader::UpdateSpeedInfo()
{
    currentSpeed = TransferSpeed(speedBytes, speedClock.restart());
    speedBytes = 0;
    speedTimer->start(settings.speedInterval);
}

void Downloader::ExpectFiles(QList<DownloadItem> files)
{
    expectedFiles.clear();
    for (const DownloadItem &item : qAsConst(files))
        expectedFiles.insert(item.folder + item.fileName, item);
    // What was staged for a file that the manifest no longer lists so is of no use.
    const QStringList staged = leftovers.keys();
    for (const QString &path : staged) {
        const ResumeRecord &record = leftovers.value(path).record;
        const TransferExpectation expected = ExpectationFor(path);
        if (!expectedFiles.contains(path) || expected.md5 != record.md5
            || expected.size != record.size)
            DiscardLeftover(path);
    }
}

void Downloader::FindLeftovers()
{
    const QDir config(MarkerFiles::configFolder);
    const QStringList names = config.entryList({QStringLiteral("Download*")}, QDir::Files);
    QSet<int> foundSlots;
    for (const QString &name : names) {
        const int slot = StagedFile::slotOf(name);
        if (slot >= 0)
            foundSlots.insert(slot);
    }
    for (const int slot : qAsConst(foundSlots)) {
        ResumeRecord record;
        const bool bRead = QFileInfo(StagedFile::stagingPath(slot)).size() > 0
                           && !record.LoadProblem(StagedFile::recordPath(slot));
        const int slash = record.path.lastIndexOf(QLatin1Char('/'));
        const bool bUsable = bRead && !leftovers.contains(record.path)
                             && IsSafeDownloadPath(record.path.left(slash + 1),
                                                   record.path.mid(slash + 1));
        if (bUsable) {
            leftovers.insert(record.path, {slot, record});
        } else {
            QFile::remove(StagedFile::stagingPath(slot));
            QFile::remove(StagedFile::recordPath(slot));
        }
    }
}

void Downloader::DiscardLeftover(const QString &path)
{
    const Leftover leftover = leftovers.take(path);
    QFile::remove(StagedFile::stagingPath(leftover.slot));
    QFile::remove(StagedFile::recordPath(leftover.slot));
}

int Downloader::FreeSlot() const
{
    QSet<int> taken;
    for (const std::unique_ptr<Transfer> &transfer : transfers)
        taken.insert(transfer->slot());
    for (const Leftover &leftover : leftovers)
        taken.insert(leftover.slot);
    int slot = 0;
    while (taken.contains(slot))
        ++slot;
    return slot;
}

TransferExpectation Downloader::ExpectationFor(const QString &path) const
{
    TransferExpectation expected;
    const auto item = expectedFiles.constFind(path);
    if (item == expectedFiles.constEnd()) {
        expected.limit = settings.documentBytes;
        return expected;
    }
    // A file without a digest is taken as it comes: nothing would vouch for a size alone.
    const QString md5 = item->md5.toLower();
    if (!IsDigest(md5))
        return expected;
    expected.md5 = md5;
    if (item->bSizeListed && item->size >= 0)
        expected.size = expected.limit = item->size;
    return expected;
}

void Downloader::SendRequest(Transfer *transfer)
{
    QUrl url = serverUrl;
    url.setPath(QStringLiteral("/qor_app/") + transfer->path(), QUrl::DecodedMode);
    QNetworkRequest request(url);
    transfer->PrepareRequest(&request);
    request.setAttribute(QNetworkRequest::HttpPipeliningAllowedAttribute, bPipelining);
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, bHttp2);
    request.setAttribute(QNetworkRequest::Http2DirectAttribute, bHttp2);
    // Qt would ask for gzip and inflate it without bound: the bytes counted against a transfer's limit
    // and digested are the bytes that arrive.
    request.setRawHeader("Accept-Encoding", "identity");
    // A server may send its players to a mirror; what arrives from there is judged by its size and
    // digest like anything else.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(settings.maximumRedirects);

    QNetworkReply *reply = accessManager->get(request);
    reply->setReadBufferSize(readBufferSize);
    connect(reply, &QNetworkReply::readyRead, this, &Downloader::FilePart);
    connect(reply, &QNetworkReply::errorOccurred, this, &Downloader::FileError);
    connect(reply, &QNetworkReply::redirected, this, [this, reply](const QUrl &target) {
        if (Transfer *redirected = TransferOf(reply)) {
            redirected->NoteRedirect(target);
            qCInfo(lcRun).noquote() << QStringLiteral("Redirected %1 to %2")
                                           .arg(redirected->path(), target.toDisplayString());
        }
    });
    transfer->Attach(reply, url);
}

Transfer *Downloader::TransferOf(const QObject *reply) const
{
    if (!reply)
        return nullptr;
    const auto found = std::find_if(transfers.cbegin(), transfers.cend(),
                                    [reply](const std::unique_ptr<Transfer> &transfer) {
                                        return transfer->reply() == reply;
                                    });
    return found == transfers.cend() ? nullptr : found->get();
}

void Downloader::Finish(Transfer *transfer, bool bAnnounce)
{
    if (transfer->reply())
        transfer->reply()->disconnect(this);
    transfer->DropReply();
    const QString file = transfer->file();
    // The staging file is free before the next request can come.
    transfers.erase(std::find_if(transfers.begin(), transfers.end(),
                                 [transfer](const std::unique_ptr<Transfer> &running) {
                                     return running.get() == transfer;
                                 }));
    if (bAnnounce)
        emit FileDownloaded(file);
}

void Downloader::FinishWithProblem(Transfer *transfer, const QString &problem)
{
    qCWarning(lcRun).noquote() << problem;
    Finish(transfer, true);
}

void Downloader::StopPipelining(const QString &path)
{
    if (!bPipelining)
        return;
    bPipelining = false;
    qCWarning(lcRun).noquote()
        << QStringLiteral("Requests no longer share a connection before their answers: the one for "
                          "%1 failed or stalled where the server, or a proxy on the way, had them in "
                          "a row")
               .arg(path);
}

void Downloader::StopHttp2(const QString &path)
{
    if (!bHttp2)
        return;
    bHttp2 = false;
    qCWarning(lcRun).noquote()
        << QStringLiteral("Falling back to HTTP/1.1: the server does not answer %1 in HTTP/2").arg(path);
}

void Downloader::RetryOrGiveUp(Transfer *transfer)
{
    if (transfer->reply())
        transfer->reply()->disconnect(this);
    transfer->DropReply();
    if (transfer->NextAttempt()) {
        SendRequest(transfer);
        return;
    }
    FinishWithProblem(transfer, QStringLiteral("Gave up on %1: %2 attempts in a row brought no new data")
                                    .arg(transfer->path())
                                    .arg(settings.attemptsWithoutProgress));
}

void Downloader::Abandon(Transfer *transfer)
{
    // A transfer that may be resumed keeps what its reply gathered, unless that went too far.
    bool bResumable = transfer->IsResumable();
    if (transfer->BodyIsKept()) {
        const Transfer::ReadResult read = transfer->ReadAvailable(true);
        speedBytes += read.written;
        bResumable = transfer->IsResumable() && !read.problem;
    }
    if (bResumable) {
        transfer->KeepForNextStart();
        leftovers.insert(transfer->path(), {transfer->slot(), transfer->Record()});
    }
    Finish(transfer, false);
}

void Downloader::AbandonTransfers()
{
    while (!transfers.empty())
        Abandon(transfers.back().get());
}

void Downloader::ReplaceAccessManager()
{
    if (accessManager) {
        accessManager->disconnect(this);
        accessManager.release()->deleteLater();
    }
    accessManager = std::make_unique<QNetworkAccessManager>();
    connect(accessManager.get(), &QNetworkAccessManager::finished, this, &Downloader::FileFinished);
    connect(accessManager.get(), &QNetworkAccessManager::authenticationRequired,
            this, &Downloader::AnswerChallenge);
}

void Downloader::CommitDownload(Transfer *transfer)
{
    StagedFile &file = transfer->stagedFile();
    if (!file.commit()) {
        qCWarning(lcRun).noquote()
            << QStringLiteral("Cannot replace %1: %2").arg(file.fileName(), file.errorString());
        return;
    }
    // Without a stamp the next verification pass reads the file, as it would any other.
    if (const std::optional<FileStamp> stamp = ReadFileStamp(file.fileName()))
        emit FileCommitted(file.fileName(), *stamp, file.md5());
}

void Downloader::AnswerChallenge(QNetworkReply *reply, QAuthenticator *authenticator)
{
    // Asked a second time in one attempt, the password was wrong: leaving the authenticator empty ends
    // the reply with AuthenticationRequiredError, so the user is asked again. A host that a redirect
    // leads to is not the update server and never sees the password.
    Transfer *transfer = TransferOf(reply);
    const QUrl url = reply->url();
    if (!transfer || loginPassword.isEmpty() || transfer->bChallengeAnswered
        || url.host() != serverUrl.host() || url.port(80) != serverUrl.port(80))
        return;
    transfer->bChallengeAnswered = true;
    authenticator->setUser(QString::fromUtf8(UpdaterConfig::authUser));
    authenticator->setPassword(loginPassword);
}
