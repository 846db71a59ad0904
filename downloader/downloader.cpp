#include "downloader.h"

#include "app/runlog.h"
#include "app/updaterfiles.h"
#include "documents/patch/knownblocks.h"
#include "documents/release/releasenotes.h"
#include "downloader/fetch/fetch.h"
#include "downloader/jobs/patchchoice.h"
#include "downloader/jobs/patchjob.h"
#include "downloader/jobs/wholefilejob.h"
#include "downloader/network/networkerrors.h"
#include "downloader/network/serverconnection.h"
#include "downloader/patch/blocklistprefetch.h"
#include "downloader/staging/downloadpath.h"
#include "downloader/staging/stagedswitch.h"
#include "downloader/transferspeed.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QTimer>

#include <algorithm>

Downloader::Downloader(const UpdateServer &server, const UpdaterConfig::RunSettings &settings)
    : settings(settings)
    , connection(new ServerConnection(server, settings, this))
{
    // These cross to the window's thread, and from it.
    qRegisterMetaType<FileStamp>();
    qRegisterMetaType<QList<DownloadItem>>();
    connect(connection, &ServerConnection::ReplyFinished, this, &Downloader::FileFinished);
    connect(connection, &ServerConnection::NetworkError, this, &Downloader::NetworkError);
}

Downloader::~Downloader()
{
    // Runs on the worker thread as it ends: a job cut short here leaves nothing in the
    // application's folders, and what it staged only where the next start can resume it.
    AbandonAll();
    connection->disconnect(this);
}

void Downloader::Connect()
{
    qDebug() << "Downloader::Connect";
    stagingSlots.FindLeftovers();
    RemoveReplacedCopies();
    RotateReleaseNotes();
    connection->Open();
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
    // on it; one stalled fetch among others that bring data only loses its own reply.
    const bool bLineQuiet = connection->Activity()->QuietFor() >= settings.stallInterval;
    QList<Fetch *> stalled;
    bool bAnswerStalled = false;
    for (const Job *job : qAsConst(jobs)) {
        for (Fetch *fetch : job->Fetches()) {
            if (fetch->IsStalled() || (bLineQuiet && fetch->IsRequested())) {
                stalled.append(fetch);
                bAnswerStalled = bAnswerStalled || fetch->IsAnswered();
            }
        }
    }
    if (bLineQuiet)
        connection->ReplaceAccessManagers();
    for (Fetch *fetch : qAsConst(stalled)) {
        // A server or a proxy that drops requests sent before the answers to earlier ones leaves
        // them waiting while the others are answered. An answer that stalled as well tells of a
        // line that stopped, which waiting requests share.
        if (!bAnswerStalled && fetch->IsPassedOver())
            connection->StopPipelining(fetch->Policy().path);
        // A server that does not speak HTTP/2 may answer its preface with nothing at all.
        if (connection->IsHttp2() && !fetch->IsAnswered())
            connection->StopHttp2(fetch->Policy().path);
        fetch->Retry();
    }
}

void Downloader::Login(QString pwd)
{
    qDebug() << "Downloader::Login";
    AbandonAll();
    connection->Restart(pwd);
    StartOver();
}

void Downloader::ProxyLogin(QString user, QString password)
{
    AbandonAll();
    connection->SetProxyLogin(user, password);
    StartOver();
}

void Downloader::StartOver()
{
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
    const auto same = std::find_if(jobs.cbegin(), jobs.cend(),
                                   [&path](const Job *running) { return running->path() == path; });
    if (same != jobs.cend())
        Abandon(*same);
    if (jobs.size() >= settings.transfers)
        Abandon(jobs.first());

    if (!IsSafeDownloadPath(dir, file)) {
        qCWarning(lcRun) << "Refused to download to an unsafe path:" << path;
        emit FileDownloaded(file);
        return;
    }
    const auto listed = expectedFiles.constFind(path);
    const StagingSlots::Claim claim = stagingSlots.ClaimFor(path);
    const TransferExpectation expected = ExpectationOf(
        listed == expectedFiles.constEnd() ? nullptr : &*listed, settings.documentBytes);
    Job *job = JobFor(dir, file, expected, claim.slot);
    connect(job, &Job::PartWritten, this, &Downloader::FilePart);
    connect(job, &Job::ErrorOccurred, this, &Downloader::FileError);
    connect(job, &Job::Stalled, this, &Downloader::Reconnect);
    connect(job, &Job::FetchEstimated, this,
            [this, job](qint64 bytes) { emit FetchEstimated(job->path(), bytes); });
    connect(job, &Job::Finished, this,
            [this, job](const JobResult &result) { JobFinished(job, result); });
    jobs.append(job);
    job->Start(claim.leftover);
}

Job *Downloader::JobFor(const QString &dir, const QString &file,
                        const TransferExpectation &expected, int slot)
{
    const auto listed = expectedFiles.constFind(dir + file);
    if (listed != expectedFiles.constEnd()) {
        const PatchChoice choice = ChoosePatch(*listed, expected, wholeFiles.contains(dir + file),
                                               settings.documentBytes);
        if (choice.bPatch)
            return new PatchJob(*listed, expected, slot, connection, settings, this);
        if (choice.reason) {
            qCWarning(lcRun).noquote()
                << QStringLiteral("Fetching %1 whole: %2").arg(dir + file, *choice.reason);
        }
    }
    // A file of the installation waits for its switch; a document is the updater's own.
    const QString target = listed == expectedFiles.constEnd() ? dir + file : StagedCopyOf(*listed);
    return new WholeFileJob(dir, file, target, expected, slot, connection, settings, this);
}

void Downloader::FilePart()
{
    // Each job says so of every part it writes, so only the one that wrote has bytes to count.
    for (Job *job : qAsConst(jobs))
        speedBytes += job->TakeUncountedBytes();
}

void Downloader::FileError(QNetworkReply::NetworkError code)
{
    qDebug() << "Downloader::FileError";
    const QString message = NetworkErrorMessage(code);
    if (!message.isEmpty())
        emit NetworkError(message, true);
    if (code == QNetworkReply::ProxyAuthenticationRequiredError)
        emit ProxyPasswordRequired(connection->ProxyName());
    else if (code == QNetworkReply::AuthenticationRequiredError)
        emit PasswordRequired();
    else
        return;
    // The run starts over once the password is given: nothing else may answer in between. The
    // job that was refused waits for the end of its reply.
    const QList<Job *> running = jobs;
    for (Job *job : running) {
        if (!job->IsAwaitingPassword())
            Abandon(job);
    }
    speedTimer->stop();
}

void Downloader::FileFinished(QNetworkReply *mreply)
{
    connection->NoteFinished(*mreply);
    // The manager reports a reply before the fetch that asked for it hears of its end. One that
    // its fetch let go of has nothing more to say.
    const Fetch *fetch = Fetch::Of(*mreply);
    if (!fetch)
        return;
    if (fetch->Policy().bNamedInLog)
        qDebug() << "Downloader::FileFinished";
    connection->NoteFileEnd(*mreply, fetch->Policy().path);
}

void Downloader::UpdateDownloadInfo()
{
    qint64 unreported = 0;
    for (Job *job : qAsConst(jobs))
        unreported += job->TakeUnreportedBytes();
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
    RemoveReplacedCopies();
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

void Downloader::SetSpeedLimit(qint64 bytesPerSecond)
{
    connection->Throttle()->SetLimit(bytesPerSecond);
}

void Downloader::SetPaused(bool bPause)
{
    connection->Throttle()->SetPaused(bPause);
}

void Downloader::JobFinished(Job *job, const JobResult &result)
{
    // The staging slot is free before the next request can come.
    jobs.removeOne(job);
    stagingSlots.Release(job->slot());
    job->deleteLater();
    const QString path = job->path();
    const qint64 unreported = job->TakeUnreportedBytes();
    if (result.kind == JobResult::Kind::FetchWhole) {
        qCWarning(lcRun).noquote() << *result.problem;
        ReportBytes(unreported);
        // The whole file is counted again, besides what the patch fetched.
        emit FetchEstimated(path, job->TakenBytes() + expectedFiles.value(path).size);
        wholeFiles.insert(path);
        DownloadFile(job->folder(), job->file());
        return;
    }
    if (result.bPipelined)
        connection->StopPipelining(path);
    if (result.kind == JobResult::Kind::Committed && !result.bBlocksKnown
        && expectedFiles.contains(path)) {
        // So that the file's next patch knows its blocks without reading it through.
        const DownloadItem item = expectedFiles.value(path);
        KnownBlocks::Forget(item.localMd5);
        if (HasUsableBlockList(item, settings.documentBytes))
            new BlockListPrefetch(item, connection, settings, this);
    }
    if (result.problem)
        qCWarning(lcRun).noquote() << *result.problem;
    if (result.kind == JobResult::Kind::PasswordRequired)
        return;
    // The file's last bytes are reported before it is announced, after which the run moves on.
    ReportBytes(unreported);
    if (result.kind == JobResult::Kind::Committed && result.stamp)
        emit FileStaged(path, *result.stamp, result.md5);
    emit FileDownloaded(job->file());
}

void Downloader::ReportBytes(qint64 bytes)
{
    if (bytes)
        emit BytesDownloaded(static_cast<int>(qMin<qint64>(bytes, INT_MAX)), currentSpeed);
}

void Downloader::Abandon(Job *job)
{
    const std::optional<ResumeRecord> kept = job->Abandon();
    jobs.removeOne(job);
    stagingSlots.Release(job->slot(), kept);
    job->deleteLater();
}

void Downloader::AbandonAll()
{
    while (!jobs.isEmpty())
        Abandon(jobs.last());
}
