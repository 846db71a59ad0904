#include "downloader.h"

#include "app/runlog.h"
#include "app/updaterfiles.h"
#include "documents/installation/manifestpath.h"
#include "documents/patch/blocklist.h"
#include "documents/patch/knownblocks.h"
#include "documents/release/releasenotes.h"
#include "downloader/downloadpath.h"
#include "downloader/networkerrors.h"
#include "downloader/patch.h"
#include "downloader/stagedfile.h"
#include "downloader/transfer.h"
#include "downloader/transferspeed.h"

#include <QAuthenticator>
#include <QCryptographicHash>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QTimer>

#include <algorithm>

Downloader::Downloader(const UpdateServer &server, const UpdaterConfig::RunSettings &settings)
    : settings(settings)
    , server(server)
    , bPipelining(settings.bPipelining)
    // Over TLS, HTTP/2 is a matter of the handshake, not of prior knowledge.
    , bHttp2(settings.bHttp2 && !IsHttps(server.url))
{
    // These cross to the window's thread, and from it.
    qRegisterMetaType<FileStamp>();
    qRegisterMetaType<QList<DownloadItem>>();
}

Downloader::~Downloader()
{
    // Runs on the worker thread as it ends: a transfer cut short here leaves nothing in the
    // application's folders, and what it staged only where the next start can resume it.
    AbandonAll();
    for (const std::unique_ptr<QNetworkAccessManager> &manager : accessManagers)
        manager->disconnect(this);
}

void Downloader::Connect()
{
    qDebug() << "Downloader::Connect";
    stagingSlots.FindLeftovers();
    StagedFile::RemoveReplacedCopies();
    RotateReleaseNotes();
    tlsConfiguration = server.TlsConfiguration();
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
    // A line that has brought nothing for the stall interval is replaced whole, with every request
    // on it; one stalled transfer among others that bring data only loses its own reply.
    const bool bLineQuiet = serverActivity.QuietFor() >= settings.stallInterval;
    QList<Transfer *> stalled;
    bool bAnswerStalled = false;
    for (Transfer *transfer : qAsConst(transfers)) {
        if (transfer->IsStalled() || (bLineQuiet && transfer->IsRequested())) {
            stalled.append(transfer);
            bAnswerStalled = bAnswerStalled || transfer->IsAnswered();
        }
    }
    if (bLineQuiet)
        ReplaceAccessManagers();
    for (Transfer *transfer : qAsConst(stalled)) {
        // A server or a proxy that drops requests sent before the answers to earlier ones leaves
        // them waiting while the others are answered. An answer that stalled as well tells of a
        // line that stopped, which waiting requests share.
        if (!bAnswerStalled && transfer->IsPassedOver())
            StopPipelining(transfer->path());
        // A server that does not speak HTTP/2 may answer its preface with nothing at all.
        if (bHttp2 && !transfer->IsAnswered())
            StopHttp2(transfer->path());
        transfer->Retry();
    }
}

void Downloader::Login(QString pwd)
{
    qDebug() << "Downloader::Login";
    loginPassword = pwd;
    AbandonAll();
    // The old managers may have cached the previous credentials and would present them first.
    ReplaceAccessManagers();
    // Only notes that arrive anew count: a copy from before must not stand in for a failed answer.
    QFile::remove(DocumentFiles::releaseNotes);
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
    const QString path = dir + file;
    // The window has moved on: what the request replaces is dropped.
    const auto same = std::find_if(transfers.cbegin(), transfers.cend(),
                                   [&path](const Transfer *running) { return running->path() == path; });
    if (same != transfers.cend())
        Abandon(*same);
    const auto samePatch =
        std::find_if(patches.cbegin(), patches.cend(),
                     [&path](const Patch *running) { return running->path() == path; });
    if (samePatch != patches.cend())
        Abandon(*samePatch);
    if (transfers.size() + patches.size() >= settings.transfers) {
        if (!transfers.isEmpty())
            Abandon(transfers.first());
        else
            Abandon(patches.first());
    }

    if (!IsSafeDownloadPath(dir, file)) {
        qCWarning(lcRun) << "Refused to download to an unsafe path:" << path;
        emit FileDownloaded(file);
        return;
    }
    if (!dir.isEmpty())
        QDir().mkpath(dir);
    const auto listed = expectedFiles.constFind(path);
    const StagingSlots::Claim claim = stagingSlots.ClaimFor(path);
    const TransferExpectation expected = ExpectationOf(
        listed == expectedFiles.constEnd() ? nullptr : &*listed, settings.documentBytes);
    if (listed != expectedFiles.constEnd() && IsPatchable(*listed, expected)) {
        StartPatch(*listed, expected, claim);
        return;
    }
    if (listed != expectedFiles.constEnd()) {
        if (const std::optional<QString> reason = WholeFileReason(*listed, expected))
            qCWarning(lcRun).noquote() << QStringLiteral("Fetching %1 whole: %2").arg(path, *reason);
    }
    auto *transfer = new Transfer(dir, file, expected, settings, claim.slot, &serverActivity, this);
    connect(transfer, &Transfer::RequestWanted, this, [this, transfer] { SendRequest(transfer); });
    connect(transfer, &Transfer::PartWritten, this, &Downloader::FilePart);
    connect(transfer, &Transfer::ErrorOccurred, this, &Downloader::FileError);
    connect(transfer, &Transfer::Stalled, this, &Downloader::Reconnect);
    connect(transfer, &Transfer::Finished, this,
            [this, transfer](const TransferOutcome &outcome) { TransferFinished(transfer, outcome); });
    transfers.append(transfer);
    transfer->Start(claim.leftover);
}

void Downloader::FilePart()
{
    // Each transfer says so of every part it writes, so only the one that wrote has bytes to count.
    for (Transfer *transfer : qAsConst(transfers))
        speedBytes += transfer->TakeUncountedBytes();
    for (Patch *patch : qAsConst(patches))
        speedBytes += patch->TakeUncountedBytes();
}

void Downloader::FileError(QNetworkReply::NetworkError code)
{
    qDebug() << "Downloader::FileError";
    const QString message = NetworkErrorMessage(code);
    if (!message.isEmpty())
        emit NetworkError(message, true);
    if (code != QNetworkReply::AuthenticationRequiredError)
        return;
    emit PasswordRequired();
    // The run starts over once the password is given: nothing else may answer in between. The
    // transfer that was refused waits for the end of its reply.
    const QList<Transfer *> running = transfers;
    for (Transfer *transfer : running) {
        if (!transfer->IsAwaitingPassword())
            Abandon(transfer);
    }
    const QList<Patch *> patching = patches;
    for (Patch *patch : patching) {
        if (!patch->IsAwaitingPassword())
            Abandon(patch);
    }
    speedTimer->stop();
}

void Downloader::FileFinished(QNetworkReply *mreply)
{
    if (!bNegotiationLogged) {
        const QString negotiation = NegotiationLine(*mreply);
        bNegotiationLogged = !negotiation.isEmpty();
        if (bNegotiationLogged)
            qCInfo(lcRun).noquote() << negotiation;
    }
    // A server that has answered in HTTP/2 speaks it, though it closes a connection now and then.
    if (mreply->attribute(QNetworkRequest::Http2WasUsedAttribute).toBool()
        && AnswerOf(*mreply) != Answer::None)
        bHttp2Answered = true;
    // The manager reports a reply before the transfer that asked for it hears of its end. One that
    // its transfer let go of has nothing more to say.
    const auto *transfer = qobject_cast<Transfer *>(mreply->request().originatingObject());
    if (!transfer || !transfer->Owns(mreply))
        return;
    qDebug() << "Downloader::FileFinished";
    // The connection broke while the file arrived on a connection with requests in a row.
    const bool bPipelined = mreply->attribute(QNetworkRequest::HttpPipeliningWasUsedAttribute).toBool();
    if (bPipelined && AnswerOf(*mreply) == Answer::File && IsTransportError(mreply->error()))
        StopPipelining(transfer->path());
    if (!bHttp2Answered && IsHttp2Refusal(*mreply))
        StopHttp2(transfer->path());
}

void Downloader::UpdateDownloadInfo()
{
    qint64 unreported = 0;
    for (Transfer *transfer : qAsConst(transfers))
        unreported += transfer->TakeUnreportedBytes();
    for (Patch *patch : qAsConst(patches))
        unreported += patch->TakeUnreportedBytes();
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
    // A pass has written the record of digests since the files that it found were replaced.
    StagedFile::RemoveReplacedCopies();
    expectedFiles.clear();
    for (const DownloadItem &item : qAsConst(files))
        expectedFiles.insert(item.folder + item.fileName, item);
    // What was staged for a file that the manifest no longer lists as it was is of no use.
    stagingSlots.DiscardLeftovers([this](const ResumeRecord &record) {
        const auto listed = expectedFiles.constFind(record.path);
        if (listed == expectedFiles.constEnd())
            return false;
        const TransferExpectation expected = ExpectationOf(&*listed, settings.documentBytes);
        return expected.md5 == record.md5 && expected.size == record.size;
    });
}

bool Downloader::HasBlockList(const DownloadItem &item) const
{
    return !item.blockList.isEmpty() && !ListedBlockListProblem(item, settings.documentBytes);
}

bool Downloader::IsPatchable(const DownloadItem &item, const TransferExpectation &expected) const
{
    const QString path = item.folder + item.fileName;
    const QFileInfo oldCopy(path);
    return HasBlockList(item) && !wholeFiles.contains(path) && !expected.md5.isEmpty()
           && expected.size > 0 && oldCopy.isFile() && oldCopy.size() > 0;
}

std::optional<QString> Downloader::WholeFileReason(const DownloadItem &item,
                                                   const TransferExpectation &expected) const
{
    // Without a list, or an old copy, no patch was to be had; a file that fell back has said why.
    const QString path = item.folder + item.fileName;
    const QFileInfo oldCopy(path);
    if (item.blockList.isEmpty() || wholeFiles.contains(path) || !oldCopy.exists())
        return std::nullopt;
    if (std::optional<QString> problem = ListedBlockListProblem(item, settings.documentBytes))
        return problem;
    if (expected.md5.isEmpty())
        return QStringLiteral("the manifest gives no MD5 digest for it");
    if (expected.size <= 0)
        return QStringLiteral("the manifest gives no size for it");
    return oldCopy.isFile() ? QStringLiteral("its old copy is empty")
                            : QStringLiteral("its old copy is not a file");
}

void Downloader::FetchKnownBlocks(const DownloadItem &item)
{
    KnownBlocks::Forget(item.localMd5);
    if (!HasBlockList(item))
        return;
    QNetworkRequest request = RequestFor(item.blockList, this);
    request.setRawHeader("Range", "bytes=0-" + QByteArray::number(item.blockListHead - 1));
    QNetworkReply *reply = Get(request, 0);
    // Nothing waits for it: a server that ignores the range, or does not answer, costs no more than
    // the head, or the stall interval.
    reply->setReadBufferSize(item.blockListHead + 1);
    QTimer::singleShot(settings.stallInterval, reply, &QNetworkReply::abort);
    connect(reply, &QNetworkReply::readyRead, reply, [reply, head = item.blockListHead] {
        if (reply->bytesAvailable() > head)
            reply->abort();
    });
    connect(reply, &QNetworkReply::finished, this, [reply, item] {
        reply->deleteLater();
        if (reply->error() != QNetworkReply::NoError
            || reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 206)
            return;
        const QByteArray head = reply->read(item.blockListHead + 1);
        if (head.size() == item.blockListHead
            && QCryptographicHash::hash(head, QCryptographicHash::Sha256).toHex()
                   == item.blockListSha256.toLatin1())
            KnownBlocks::Remember(item.md5, head);
    });
}

void Downloader::StartPatch(const DownloadItem &item, const TransferExpectation &expected,
                            const StagingSlots::Claim &claim)
{
    const int slot = claim.slot;
    auto *patch = new Patch(
        item, expected, settings, slot, &serverActivity,
        [this, slot](QObject *origin, const QString &releasePath, const ByteRange &range) {
            QNetworkRequest request = RequestFor(releasePath, origin);
            request.setRawHeader("Range", "bytes=" + QByteArray::number(range.start) + '-'
                                              + QByteArray::number(range.end - 1));
            return Get(request, slot);
        },
        this);
    connect(patch, &Patch::PartWritten, this, &Downloader::FilePart);
    connect(patch, &Patch::ErrorOccurred, this, &Downloader::FileError);
    connect(patch, &Patch::Stalled, this, &Downloader::Reconnect);
    connect(patch, &Patch::FetchEstimated, this,
            [this, patch](qint64 bytes) { emit FetchEstimated(patch->path(), bytes); });
    connect(patch, &Patch::Finished, this,
            [this, patch](const TransferOutcome &outcome) { PatchFinished(patch, outcome); });
    patches.append(patch);
    patch->Start(claim.leftover);
}

QNetworkRequest Downloader::RequestFor(const QString &releasePath, QObject *origin) const
{
    QUrl url = server.url;
    url.setPath(serverReleasePath + releasePath, QUrl::DecodedMode);
    QNetworkRequest request(url);
    // The replies of the access manager name their transfer or patch.
    request.setOriginatingObject(origin);
    if (!tlsConfiguration.isNull())
        request.setSslConfiguration(tlsConfiguration);
    request.setAttribute(QNetworkRequest::HttpPipeliningAllowedAttribute, bPipelining);
    // Over TLS, HTTP/2 is offered in the handshake and taken where the server accepts it; in clear
    // text only a server known to speak it is spoken to in it.
    const bool bTls = IsHttps(url);
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, bTls || bHttp2);
    request.setAttribute(QNetworkRequest::Http2DirectAttribute, !bTls && bHttp2);
    // Qt would ask for gzip and inflate it without bound: the bytes counted against a transfer's limit
    // and digested are the bytes that arrive.
    request.setRawHeader("Accept-Encoding", "identity");
    // A server may send its players to a mirror; what arrives from there is judged by its size and
    // digest like anything else. None may lead from HTTPS to plain HTTP.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(settings.maximumRedirects);
    return request;
}

QNetworkReply *Downloader::Get(const QNetworkRequest &request, int slot)
{
    // Each staging slot keeps to one manager, so that the transfers spread over their connections.
    QNetworkAccessManager &manager = *accessManagers.at(std::size_t(slot) % accessManagers.size());
    QNetworkReply *reply = manager.get(request);
    reply->setReadBufferSize(settings.readBufferBytes);
    return reply;
}

void Downloader::SendRequest(Transfer *transfer)
{
    QNetworkRequest request = RequestFor(transfer->path(), transfer);
    transfer->PrepareRequest(&request);
    transfer->Attach(Get(request, transfer->slot()));
}

void Downloader::TransferFinished(Transfer *transfer, const TransferOutcome &outcome)
{
    // The staging slot is free before the next request can come.
    transfers.removeOne(transfer);
    stagingSlots.Release(transfer->slot());
    transfer->deleteLater();
    if (outcome.bPipelined)
        StopPipelining(transfer->path());
    if (outcome.kind == TransferOutcome::Kind::Committed
        && expectedFiles.contains(transfer->path()))
        FetchKnownBlocks(expectedFiles.value(transfer->path()));
    Announce(transfer->path(), transfer->file(), transfer->TakeUnreportedBytes(), outcome);
}

void Downloader::PatchFinished(Patch *patch, const TransferOutcome &outcome)
{
    patches.removeOne(patch);
    stagingSlots.Release(patch->slot());
    patch->deleteLater();
    const qint64 unreported = patch->TakeUnreportedBytes();
    if (outcome.kind != TransferOutcome::Kind::FetchWhole) {
        Announce(patch->path(), patch->file(), unreported, outcome);
        return;
    }
    qCWarning(lcRun).noquote() << *outcome.problem;
    if (unreported)
        emit BytesDownloaded(static_cast<int>(qMin<qint64>(unreported, INT_MAX)), currentSpeed);
    // The whole file is counted again, besides what the patch fetched.
    emit FetchEstimated(patch->path(),
                        patch->FetchedBytes() + expectedFiles.value(patch->path()).size);
    wholeFiles.insert(patch->path());
    DownloadFile(patch->folder(), patch->file());
}

void Downloader::Announce(const QString &path, const QString &file, qint64 unreported,
                          const TransferOutcome &outcome)
{
    if (outcome.problem)
        qCWarning(lcRun).noquote() << *outcome.problem;
    if (outcome.kind == TransferOutcome::Kind::PasswordRequired)
        return;
    // The file's last bytes are reported before it is announced, after which the run moves on.
    if (unreported)
        emit BytesDownloaded(static_cast<int>(qMin<qint64>(unreported, INT_MAX)), currentSpeed);
    if (outcome.kind == TransferOutcome::Kind::Committed && outcome.stamp)
        emit FileCommitted(path, *outcome.stamp, outcome.md5);
    emit FileDownloaded(file);
}

void Downloader::Abandon(Transfer *transfer)
{
    const std::optional<ResumeRecord> kept = transfer->Abandon();
    transfers.removeOne(transfer);
    stagingSlots.Release(transfer->slot(), kept);
    transfer->deleteLater();
}

void Downloader::Abandon(Patch *patch)
{
    const std::optional<ResumeRecord> kept = patch->Abandon();
    patches.removeOne(patch);
    stagingSlots.Release(patch->slot(), kept);
    patch->deleteLater();
}

void Downloader::AbandonAll()
{
    while (!transfers.isEmpty())
        Abandon(transfers.last());
    while (!patches.isEmpty())
        Abandon(patches.last());
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

void Downloader::ReplaceAccessManagers()
{
    for (std::unique_ptr<QNetworkAccessManager> &manager : accessManagers) {
        manager->disconnect(this);
        manager.release()->deleteLater();
    }
    accessManagers.clear();
    for (int pool = 0; pool < qMax(1, settings.connectionPools); ++pool) {
        auto manager = std::make_unique<QNetworkAccessManager>();
        connect(manager.get(), &QNetworkAccessManager::finished, this, &Downloader::FileFinished);
        connect(manager.get(), &QNetworkAccessManager::authenticationRequired,
                this, &Downloader::AnswerChallenge);
        connect(manager.get(), &QNetworkAccessManager::sslErrors,
                this, &Downloader::RefuseCertificate);
        accessManagers.push_back(std::move(manager));
    }
}

void Downloader::AnswerChallenge(QNetworkReply *reply, QAuthenticator *authenticator)
{
    // Leaving the authenticator empty ends the reply with AuthenticationRequiredError, so the user is
    // asked again. A host that a redirect leads to is not the update server and never sees the
    // password, nor does the update server over plain HTTP when it is reached over HTTPS; one that
    // asks twice in one attempt has refused it.
    QObject *origin = reply->request().originatingObject();
    if (loginPassword.isEmpty() || !server.Serves(reply->url()))
        return;
    auto *transfer = qobject_cast<Transfer *>(origin);
    auto *patch = qobject_cast<Patch *>(origin);
    if (!(transfer ? transfer->TakeFirstChallenge() : patch && patch->TakeFirstChallenge(reply)))
        return;
    // An HTTP/2 connection shares one authenticator among its requests, and Qt takes one that was
    // sent before the credentials and challenged after them for a refusal of credentials that do
    // not change: setting them anew has them presented again.
    authenticator->setUser(QString());
    authenticator->setUser(QString::fromUtf8(UpdaterConfig::authUser));
    authenticator->setPassword(loginPassword);
}

void Downloader::RefuseCertificate(QNetworkReply *reply, const QList<QSslError> &errors)
{
    // Not ignoring the errors ends the handshake: nothing is sent to a server that is not who it
    // claims to be, and the reply fails as if the server were down.
    const QString refusal = CertificateRefusal(reply->url(), errors);
    if (refusals.contains(refusal))
        return;
    refusals.insert(refusal);
    emit NetworkError(refusal, true);
}
