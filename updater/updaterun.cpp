#include "updaterun.h"

#include "app/markerfile.h"
#include "app/updaterfiles.h"
#include "app/runlog.h"
#include "app/updaterfiles.h"
#include "documents/release/installedrelease.h"
#include "documents/release/markup.h"
#include "documents/release/releasenotes.h"
#include "documents/release/releasesignature.h"
#include "documents/installation/verificationpass.h"
#include "documents/release/xmldocument.h"
#include "updater/programstarter.h"
#include "updater/progress.h"

#include <QDebug>
#include <QDomDocument>
#include <QFile>
#include <QFutureWatcher>
#include <QtConcurrent>

#include <algorithm>
#include <limits>
#include <utility>

UpdateRun::UpdateRun(const QByteArray &publicKey, const UpdaterConfig::RunSettings &settings,
                     QObject *parent)
    : QObject(parent)
    , settings(settings)
    , bSignedRelease(!publicKey.isEmpty())
    , releaseKey(DecodePublicKey(publicKey).key)
{
}

UpdateRun::~UpdateRun()
{
    StopVerificationPass();
}

// The stage lines are the ones the log has always had, whichever object runs the stages.
void UpdateRun::Stage1()
{
    qDebug() << "Updater::Stage1";
    QDomDocument notes(QStringLiteral("notes"));
    // Without the notes, the files that the user may keep as edited are unknown.
    std::optional<QString> problem = ReleaseDocumentProblem(DocumentFiles::releaseNotes, &notes);
    if (!problem && bSignedRelease)
        problem = ReleaseStatementProblem(notes);
    if (problem) {
        // Nor may they name the installed version at the next start.
        QFile::remove(DocumentFiles::releaseNotes);
        FailOnDocument(DocumentFiles::releaseNotes, *problem);
        return;
    }
    ReadReleaseNotes(notes, false);
    // The previous notes only name the installed version: they may well be missing or broken.
    if (!XmlDocumentProblem(DocumentFiles::previousReleaseNotes, settings.documentBytes, &notes))
        ReadReleaseNotes(notes, true);
    emit UserMessage(QStringLiteral("下载文件列表"));
    RequestDocument(DocumentFiles::manifest, Awaiting::Manifest);
}

void UpdateRun::Stage2()
{
    qDebug() << "Updater::Stage2";
    // Only one pass writes the queue at a time, and the one that follows replaces it.
    StopVerificationPass();
    manifestDocument = std::make_unique<QDomDocument>(QStringLiteral("files"));
    QByteArray signedManifest;
    std::optional<QString> problem =
        ReleaseDocumentProblem(DocumentFiles::manifest, manifestDocument.get(), &signedManifest);
    // Only the manifest that the notes were signed with belongs to their release.
    if (!problem && bSignedRelease) {
        problem = releaseStatement ? ForeignManifestProblem(*releaseStatement, signedManifest)
                                   : QStringLiteral("no signed release notes came before it");
    }
    if (problem) {
        manifestDocument.reset();
        FailOnDocument(DocumentFiles::manifest, *problem);
        return;
    }
    emit UserMessage(QStringLiteral("检查本地文件"));
    downloadQueue.clear();

    if (passWatcher) {
        passWatcher->disconnect(this);
        passWatcher->deleteLater();
    }
    passWatcher = new QFutureWatcher<ManifestCheck>(this);
    connect(passWatcher, &QFutureWatcher<ManifestCheck>::finished, this, &UpdateRun::Stage3);
    passWatcher->setFuture(StartVerificationPass());
}

void UpdateRun::Stage3()
{
    qDebug() << "Updater::Stage3";
    manifestDocument.reset();
    const ManifestCheck check = passWatcher->result();
    if (!ReportCheck(check))
        return;
    downloadQueue += check.downloads;
    bytesToDownload += check.bytesToDownload;

    progressDivisor = ProgressBarDivisor(bytesToDownload);
    emit ProgressRange(0, int(bytesToDownload / progressDivisor));
    emit UserMessage(QStringLiteral("下载中..."));

    if (bUpdateInProgress || downloadQueue.isEmpty()) {
        FinishRun();
        return;
    }
    if (downloadPasses == settings.downloadPasses) {
        GiveUp();
        return;
    }
    ++downloadPasses;
    emit ExpectFiles(downloadQueue);
    DownloadQueuedFiles();
}

bool UpdateRun::ReportCheck(const ManifestCheck &check)
{
    for (const QString &path : check.rejectedPaths)
        qCWarning(lcRun).noquote() << "Skipped a manifest entry with an unsafe path:" << path;
    for (const QString &path : check.ownPaths) {
        qCWarning(lcRun).noquote()
            << "Skipped a manifest entry that names one of the updater's own files:" << path;
    }
    for (const QString &path : check.unreadablePaths)
        qCWarning(lcRun).noquote() << QStringLiteral("Cannot read %1: it is fetched again").arg(path);
    for (const QString &problem : check.recordProblems)
        qCWarning(lcRun).noquote() << problem;
    qCInfo(lcRun).noquote() << QStringLiteral("Checked %1 files: read %2, knew %3 from the record")
                                   .arg(check.listedFiles)
                                   .arg(check.filesHashed)
                                   .arg(check.filesFromRecord);
    // What an error page or a captive portal sends may well parse, but it lists nothing.
    if (check.listedFiles == 0) {
        FailOnDocument(DocumentFiles::manifest, QStringLiteral("it lists no file"));
        return false;
    }
    // Nothing may be written where a folder or a device stands, and the installation is not whole
    // without that file: the player must make room for it.
    if (!check.notRegularPaths.isEmpty()) {
        for (const QString &path : check.notRegularPaths) {
            qCWarning(lcRun).noquote()
                << QStringLiteral("Cannot install %1: a folder, a FIFO or a device stands at its path")
                       .arg(path);
        }
        emit UserMessage(QStringLiteral("更新失败"));
        return false;
    }
    return true;
}

void UpdateRun::FinishRun()
{
    // The server may be uploading a release: the run ends with the files as they are installed.
    ShowFullBar();
    if (!QFile::exists(MarkerFiles::installed)) {
        emit UserMessage(QStringLiteral("安装程序"));
        // Without the marker, the next completed run tries again.
        if (const std::optional<QString> problem =
                StartProgramProblem(Programs::prerequisitesInstaller)) {
            qCWarning(lcRun).noquote() << QStringLiteral("Cannot start the prerequisites installer %1: %2")
                                              .arg(Programs::prerequisitesInstaller, *problem);
        } else {
            SetMarkerFile(MarkerFiles::installed, true);
        }
    }
    // Nothing more is fetched: what an earlier start staged and this one did not need is of no use.
    if (!bUpdateInProgress)
        emit ExpectFiles({});
    // The installation is now this release: none below it may replace it.
    if (releaseStatement && !bUpdateInProgress) {
        if (const std::optional<QString> problem =
                RaiseInstalledReleaseProblem(ConfigFiles::installedRelease, releaseStatement->number)) {
            qCWarning(lcRun).noquote() << QStringLiteral("Cannot record the installed release in %1: %2")
                                              .arg(ConfigFiles::installedRelease, *problem);
        }
    }
    emit UserMessage(QStringLiteral("准备启动!"));
    emit LaunchAllowed(true);
}

void UpdateRun::FileDownloaded(QString downloadedFile)
{
    // The answer is to what was asked for: a document, whatever its name, or a file in flight.
    switch (std::exchange(awaiting, Awaiting::Nothing)) {
    case Awaiting::ReleaseNotes:
        if (bSignedRelease)
            RequestDocument(DocumentFiles::releaseNotesSignature, Awaiting::ReleaseNotesSignature);
        else
            Stage1();
        break;
    case Awaiting::ReleaseNotesSignature:
        Stage1();
        break;
    case Awaiting::Manifest:
        if (bSignedRelease)
            RequestDocument(DocumentFiles::manifestSignature, Awaiting::ManifestSignature);
        else
            Stage2();
        break;
    case Awaiting::ManifestSignature:
        Stage2();
        break;
    case Awaiting::QueuedFile: {
        const auto arrived =
            std::find_if(inFlight.begin(), inFlight.end(), [&downloadedFile](const DownloadItem &item) {
                return item.fileName == downloadedFile;
            });
        if (arrived != inFlight.end()) {
            emit LogLine(arrived->folder + arrived->fileName, false);
            inFlight.erase(arrived);
        }
        if (!downloadQueue.isEmpty()) {
            DownloadQueuedFiles();
        } else if (inFlight.isEmpty()) {
            ShowFullBar();
            Stage2();
        } else {
            awaiting = Awaiting::QueuedFile;
        }
        break;
    }
    case Awaiting::Nothing:
        break;
    }
}

void UpdateRun::BytesDownloaded(int deltaBytes, float downloadSpeed)
{
    if (deltaBytes == 0)
        return;
    downloadedBytes += deltaBytes;
    SetProgressValue(downloadedBytes);
    emit UserMessage(ProgressText(downloadQueue.size() + qMax(1, inFlight.size()),
                                  bytesToDownload - downloadedBytes, downloadSpeed));
}

void UpdateRun::RecordCommittedFile(QString path, FileStamp stamp, QString md5)
{
    // Only the manifest's files belong in the record: the documents are fetched anew at every start,
    // and recording them would make every start rewrite it.
    const bool bQueued = std::any_of(inFlight.cbegin(), inFlight.cend(), [&path](const DownloadItem &item) {
        return item.folder + item.fileName == path;
    });
    if (awaiting == Awaiting::QueuedFile && bQueued)
        committedDigests.insert(path, stamp, md5);
}

void UpdateRun::PasswordRequired()
{
    // Login answers the password with a request for the notes: the run starts over, with download
    // passes of its own, and only notes that arrive anew count.
    awaiting = Awaiting::ReleaseNotes;
    downloadPasses = 0;
    inFlight.clear();
    QFile::remove(DocumentFiles::releaseNotes);
    emit PasswordWanted();
}

void UpdateRun::Launch()
{
    if (const std::optional<QString> problem = StartProgramProblem(Programs::application)) {
        // The window stays, so that the user sees it and may try again.
        qCWarning(lcRun).noquote() << QStringLiteral("Cannot start the application %1: %2")
                                          .arg(Programs::application, *problem);
        emit UserMessage(QStringLiteral("启动失败"));
        emit LaunchAllowed(true);
        return;
    }
    emit Launched();
}

std::optional<QString> UpdateRun::ReleaseDocumentProblem(const QString &path,
                                                         QDomDocument *document,
                                                         QByteArray *signedContent) const
{
    return bSignedRelease ? SignedXmlDocumentProblem(path, settings.documentBytes, releaseKey,
                                                     document, signedContent)
                          : XmlDocumentProblem(path, settings.documentBytes, document);
}

std::optional<QString> UpdateRun::ReleaseStatementProblem(const QDomDocument &notes)
{
    releaseStatement.reset();
    const StatementReading reading = ReadReleaseStatement(notes);
    if (!reading.statement)
        return reading.problem;
    const ReleaseFloor floor =
        InstalledReleaseFloor(ConfigFiles::installedRelease, QFile::exists(MarkerFiles::installed));
    if (floor.notice)
        qCWarning(lcRun).noquote() << *floor.notice;
    if (std::optional<QString> problem = StaleReleaseProblem(*reading.statement, floor.installedRelease,
                                                             QDateTime::currentDateTimeUtc()))
        return problem;
    releaseStatement = reading.statement;
    return std::nullopt;
}

void UpdateRun::RequestDocument(const QString &document, Awaiting answer)
{
    QFile::remove(document);
    awaiting = answer;
    emit RequestFile(QString(), document);
}

void UpdateRun::DownloadQueuedFiles()
{
    awaiting = Awaiting::QueuedFile;
    auto next = downloadQueue.begin();
    while (inFlight.size() < settings.transfers && next != downloadQueue.end()) {
        const bool bNameInFlight =
            std::any_of(inFlight.cbegin(), inFlight.cend(), [&next](const DownloadItem &item) {
                return item.fileName == next->fileName;
            });
        if (bNameInFlight) {
            ++next;
            continue;
        }
        inFlight.append(*next);
        next = downloadQueue.erase(next);
        emit RequestFile(inFlight.last().folder, inFlight.last().fileName);
    }
}

void UpdateRun::GiveUp()
{
    emit UserMessage(QStringLiteral("更新失败"));
    for (const DownloadItem &item : qAsConst(downloadQueue)) {
        qCWarning(lcRun).noquote() << QStringLiteral("Still different from the manifest after %1 "
                                                     "downloads: %2")
                                          .arg(settings.downloadPasses)
                                          .arg(item.folder + item.fileName);
    }
}

void UpdateRun::FailOnDocument(const QString &document, const QString &reason)
{
    awaiting = Awaiting::Nothing;
    qCWarning(lcRun).noquote() << QStringLiteral("Cannot use %1: %2").arg(document, reason);
    emit UserMessage(QStringLiteral("更新失败"));
    emit LaunchAllowed(QFile::exists(MarkerFiles::installed));
}

void UpdateRun::ShowFullBar()
{
    progressDivisor = 1;
    emit ProgressRange(0, 100);
    emit ProgressValue(100);
}

void UpdateRun::SetProgressValue(qint64 bytes)
{
    // A value outside the bar's range leaves the bar as it is.
    constexpr qint64 largest = std::numeric_limits<int>::max();
    emit ProgressValue(int(qBound(-largest, bytes / progressDivisor, largest)));
}

void UpdateRun::ReadReleaseNotes(QDomNode node, bool bOldNotes)
{
    const ReleaseNotes found = ParseReleaseNotes(node, bOldNotes);
    if (found.version)
        (bOldNotes ? previousVersion : latestVersion) = *found.version;
    if (found.date)
        (bOldNotes ? previousReleaseDate : latestReleaseDate) = *found.date;
    notUpdatedFiles += found.notUpdatedFiles;
    for (const QString &notes : found.notes)
        emit NotesHtml(MarkupToHtml(notes));
    for (int notice = 0; notice < found.updateInProgressNotices; ++notice) {
        emit LogLine(QStringLiteral("New release on server, please try again later"), true);
        bUpdateInProgress = true;
    }
}

ManifestCheck UpdateRun::CheckFolder(QDomNode node, QString folder)
{
    return RunVerificationPass(node, folder, notUpdatedFiles, ConfigFiles::verifiedDigests,
                               passCommittedDigests, &verificationControl);
}

QFuture<ManifestCheck> UpdateRun::StartVerificationPass()
{
    Q_ASSERT(!verificationPass.isRunning());
    verificationControl.bCancel = false;
    passCommittedDigests = std::exchange(committedDigests, DigestRecord());
    verificationPass =
        QtConcurrent::run(this, &UpdateRun::CheckFolder, QDomNode(*manifestDocument), QString());
    return verificationPass;
}

void UpdateRun::StopVerificationPass()
{
    verificationControl.bCancel = true;
    verificationPass.waitForFinished();
}
