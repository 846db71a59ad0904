#include "updaterun.h"

#include "app/markerfile.h"
#include "app/runlog.h"
#include "app/updaterfiles.h"
#include "documents/release/markup.h"
#include "documents/release/releasenotes.h"
#include "documents/release/xmldocument.h"
#include "downloader/downloader.h"
#include "downloader/staging/diskspace.h"
#include "updater/checkreport.h"
#include "updater/selfupdate.h"
#include "updater/programstarter.h"
#include "updater/progress.h"

#include <QDebug>
#include <QDomDocument>
#include <QFile>

#include <utility>

UpdateRun::UpdateRun(const QByteArray &publicKey, const UpdaterConfig::RunSettings &settings,
                     QObject *parent)
    : QObject(parent)
    , settings(settings)
    , trust(publicKey, settings.documentBytes)
    , releaseSwitch(settings.switchRetryInterval)
{
    connect(&verificationPass, &VerificationPass::Finished, this, &UpdateRun::Stage3);
    connect(&releaseSwitch, &ReleaseSwitch::Switched, this, &UpdateRun::FilesSwitched);
    connect(&releaseSwitch, &ReleaseSwitch::HeldUp, this,
            [this](const QString &path) { emit UserMessage(HeldFileText(path)); });
    connect(&releaseSwitch, &ReleaseSwitch::Failed, this, [this](const QString &problem) {
        qCWarning(lcRun).noquote() << problem;
        EndUnchanged(QStringLiteral("更新失败"));
    });
}

void UpdateRun::ConnectTo(Downloader *downloader)
{
    connect(this, &UpdateRun::RequestFile, downloader, &Downloader::DownloadFile);
    connect(this, &UpdateRun::ExpectFiles, downloader, &Downloader::ExpectFiles);
    connect(downloader, &Downloader::FileStaged, this, &UpdateRun::FileStaged);
    connect(downloader, &Downloader::FetchEstimated, this, &UpdateRun::FetchEstimated);
    connect(downloader, &Downloader::FileDownloaded, this, &UpdateRun::FileDownloaded);
    connect(downloader, &Downloader::BytesDownloaded, this, &UpdateRun::BytesDownloaded);
    connect(downloader, &Downloader::PasswordRequired, this, &UpdateRun::PasswordRequired);
    connect(downloader, &Downloader::ProxyPasswordRequired, this,
            &UpdateRun::ProxyPasswordRequired);
}

// A run: the release notes, the manifest, then passes over the installation with the downloads of
// what each pass finds, switched into place together once all of them have arrived, until a pass
// finds nothing; then the launch.
void UpdateRun::Advance(RunEvent event)
{
    step = NextStep(step, event, trust.IsKeyed());
    switch (step) {
    case RunStep::Notes:
        // Whatever was in flight, the Downloader has let go of.
        downloadPasses = 0;
        inFlight.clear();
        tally.SettleAll();
        stagedInFlight.clear();
        releaseSwitch.Stop();
        break;
    case RunStep::NotesSignature:
        RequestDocument(DocumentFiles::releaseNotesSignature);
        break;
    case RunStep::Manifest:
        Stage1();
        break;
    case RunStep::ManifestSignature:
        RequestDocument(DocumentFiles::manifestSignature);
        break;
    case RunStep::Check:
        Stage2();
        break;
    case RunStep::Downloads:
        ++downloadPasses;
        bPassStaged = true;
        emit ExpectFiles(downloadQueue);
        DownloadQueuedFiles();
        break;
    case RunStep::Switch:
        if (bUpdaterRound)
            SwapUpdater();
        else
            releaseSwitch.Start(toSwitch);
        break;
    case RunStep::Launchable:
        FinishRun();
        break;
    case RunStep::Failed:
        // What failed has said why.
        break;
    }
}

// The stage lines are the ones the log has always had, whichever object runs the stages.
void UpdateRun::Stage1()
{
    qDebug() << "Updater::Stage1";
    QDomDocument document(QStringLiteral("notes"));
    const ReleaseTrust::NotesCheck check = trust.CheckNotes(DocumentFiles::releaseNotes, &document);
    if (check.floorNotice)
        qCWarning(lcRun).noquote() << *check.floorNotice;
    if (check.problem) {
        // Notes that are not used must not name the installed version at the next start either.
        QFile::remove(DocumentFiles::releaseNotes);
        FailOnDocument(DocumentFiles::releaseNotes, *check.problem);
        return;
    }
    ReadReleaseNotes(document, false);
    // The previous notes only name the installed version: they may well be missing, and an older
    // updater may have kept what this one refuses.
    if (QFile::exists(DocumentFiles::previousReleaseNotes)) {
        if (const std::optional<QString> problem = XmlDocumentProblem(
                DocumentFiles::previousReleaseNotes, settings.documentBytes, &document)) {
            qCWarning(lcRun).noquote() << QStringLiteral("Cannot use %1: %2")
                                              .arg(DocumentFiles::previousReleaseNotes, *problem);
        } else {
            ReadReleaseNotes(document, true);
        }
    }
    emit UserMessage(QStringLiteral("下载文件列表"));
    RequestDocument(DocumentFiles::manifest);
}

void UpdateRun::Stage2()
{
    qDebug() << "Updater::Stage2";
    ManifestListing manifest;
    if (const std::optional<QString> problem =
            trust.ManifestProblem(DocumentFiles::manifest, &manifest)) {
        FailOnDocument(DocumentFiles::manifest, *problem);
        return;
    }
    emit UserMessage(QStringLiteral("检查本地文件"));
    downloadQueue.clear();
    verificationPass.Start(std::move(manifest), notes.notUpdatedFiles);
}

void UpdateRun::Stage3()
{
    qDebug() << "Updater::Stage3";
    const ManifestCheck check = verificationPass.Result();
    if (!ReportCheck(check))
        return;
    const RoundFiles round = NextRound(check, settings.updaterProgram);
    bUpdaterRound = round.bUpdaterOnly;
    downloadQueue += round.downloads;
    tally.AddToFetch(round.bytesToFetch);
    toSwitch = round.staged;

    emit ProgressRange(0, tally.BarMaximum());
    emit UserMessage(QStringLiteral("下载中..."));

    // The server may be uploading a release: the run ends with the files as they are installed.
    if (notes.bUpdateInProgress || (downloadQueue.isEmpty() && toSwitch.isEmpty())) {
        Advance(RunEvent::NothingToFetch);
    } else if (downloadPasses == settings.downloadPasses) {
        GiveUp();
    } else if (downloadQueue.isEmpty()) {
        // Only the switch is left, of what an earlier pass or start staged.
        ++downloadPasses;
        Advance(RunEvent::ReadyToSwitch);
    } else if (FitsOnDisk(round.bytesToFetch)) {
        Advance(RunEvent::FilesFound);
    }
}

// Requests queued files, in order, until as many are in flight as the settings allow.
void UpdateRun::DownloadQueuedFiles()
{
    for (auto next = downloadQueue.begin();
         inFlight.size() < settings.transfers && next != downloadQueue.end();) {
        if (inFlight.contains(next->fileName)) {
            ++next;
            continue;
        }
        const DownloadItem item = *next;
        next = downloadQueue.erase(next);
        inFlight.insert(item.fileName, item);
        emit RequestFile(item.folder, item.fileName);
    }
}

void UpdateRun::FileArrived(const DownloadItem &item)
{
    emit LogLine(item.folder + item.fileName, false);
    tally.Settle(item.fileName);
    if (!stagedInFlight.remove(item.folder + item.fileName))
        bPassStaged = false;
    // Small files arrive faster than the reports: the count follows each one.
    ShowProgress();
    if (!downloadQueue.isEmpty()) {
        DownloadQueuedFiles();
    } else if (inFlight.isEmpty()) {
        ShowFullBar();
        Advance(bPassStaged ? RunEvent::ReadyToSwitch : RunEvent::FilesArrived);
    }
}

void UpdateRun::FilesSwitched(const QVector<std::optional<FileStamp>> &stamps)
{
    for (int index = 0; index < toSwitch.size(); ++index) {
        const DownloadItem &item = toSwitch.at(index);
        if (const std::optional<FileStamp> &stamp = stamps.value(index))
            verificationPass.RecordCommitted(item.folder + item.fileName, *stamp, item.md5);
    }
    toSwitch.clear();
    Advance(RunEvent::Switched);
}

// Puts the new updater program in place of this one, which the entry then starts to finish the run.
void UpdateRun::SwapUpdater()
{
    const DownloadItem item = toSwitch.takeFirst();
    emit UserMessage(QStringLiteral("正在更新更新程序"));
    // One that cannot be swapped in is passed over, as one that did not start.
    if (const std::optional<QString> aside = SwapInUpdater(item, settings.updaterProgram))
        emit RestartWanted(*aside, item.md5);
    else
        Advance(RunEvent::Switched);
}

// Runs the prerequisites installer once per installation and offers the launch.
void UpdateRun::FinishRun()
{
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
    if (!notes.bUpdateInProgress) {
        SetMarkerFile(MarkerFiles::completed, true);
        // The installation is whole as it is: a switch that an earlier start could not finish
        // has nothing more to do.
        ForgetPendingSwitch();
        // Nothing more is fetched: what an earlier start staged and this one did not need is of no
        // use.
        emit ExpectFiles({});
        // The installation is now this release: none below it may replace it.
        if (const std::optional<QString> problem = trust.RecordInstalledProblem()) {
            qCWarning(lcRun).noquote() << QStringLiteral("Cannot record the installed release in %1: %2")
                                              .arg(ConfigFiles::installedRelease, *problem);
        }
    }
    emit UserMessage(QStringLiteral("准备启动!"));
    emit LaunchAllowed(true);
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

void UpdateRun::Repair()
{
    verificationPass.SetRecordAsideOnce();
    const bool bEnded = step == RunStep::Launchable || step == RunStep::Failed;
    qCInfo(lcRun).noquote() << (bEnded ? QStringLiteral("Repair asked: reading every file again")
                                       : QStringLiteral("Repair asked: the next check reads every "
                                                        "file again"));
    if (!bEnded)
        return;
    emit LaunchAllowed(false);
    downloadPasses = 0;
    Advance(RunEvent::RepairAsked);
}

// Ends a run whose files never matched: nothing more is fetched and launching stays disabled.
void UpdateRun::GiveUp()
{
    emit UserMessage(QStringLiteral("更新失败"));
    for (const DownloadItem &item : qAsConst(downloadQueue)) {
        qCWarning(lcRun).noquote() << QStringLiteral("Still different from the manifest after %1 "
                                                     "downloads: %2")
                                          .arg(settings.downloadPasses)
                                          .arg(item.folder + item.fileName);
    }
    Advance(RunEvent::PassesSpent);
}

// Ends a run that cannot trust what the server said: nothing is fetched or installed. An
// installation that a run has completed before can still be launched as it is; one that an older
// updater completed has only the installer's marker to show for it.
void UpdateRun::FailOnDocument(const QString &document, const QString &reason)
{
    qCWarning(lcRun).noquote() << QStringLiteral("Cannot use %1: %2").arg(document, reason);
    EndUnchanged(QStringLiteral("更新失败"));
}

bool UpdateRun::FitsOnDisk(qint64 bytesToStage)
{
    const StagingSpace space = MeasureStagingSpace(bytesToStage);
    if (space.Fits())
        return true;
    qCWarning(lcRun).noquote() << space.Shortage();
    EndUnchanged(DiskSpaceText(space.needed, space.available));
    return false;
}

void UpdateRun::EndUnchanged(const QString &message)
{
    emit UserMessage(message);
    emit LaunchAllowed((QFile::exists(MarkerFiles::completed)
                        || QFile::exists(MarkerFiles::installed))
                       && !IsSwitchPending());
    Advance(RunEvent::Unusable);
}

// What the Downloader reports. An answer is to what was asked for, found by its bare name: a
// document, whatever its name, or a file in flight.
void UpdateRun::FileDownloaded(QString downloadedFile)
{
    const QString awaited = AwaitedDocument(step);
    if (!awaited.isEmpty() && downloadedFile == awaited) {
        Advance(RunEvent::DocumentArrived);
        return;
    }
    if (inFlight.contains(downloadedFile))
        FileArrived(inFlight.take(downloadedFile));
}

// The Downloader reports it just before it announces the file, which is then still in flight.
void UpdateRun::FileStaged(QString path, FileStamp stamp, QString md5)
{
    const auto item = InFlightAt(path);
    if (item == inFlight.end())
        return;
    // So that the next pass knows the staged copy without reading it, should the switch not come.
    verificationPass.RecordCommitted(StagedCopyOf(*item), stamp, md5);
    toSwitch.append(*item);
    stagedInFlight.insert(path);
}

void UpdateRun::FetchEstimated(QString path, qint64 bytes)
{
    const auto item = InFlightAt(path);
    if (item == inFlight.end())
        return;
    // The bar and the counts show what is fetched, not what is made from the old copy.
    tally.Reestimate(item->fileName, item->size, bytes);
    emit ProgressRange(0, tally.BarMaximum());
    emit ProgressValue(tally.BarValue());
    ShowProgress();
}

void UpdateRun::BytesDownloaded(int deltaBytes, float downloadSpeed)
{
    // The documents' bytes are not among those that the files to fetch add up to.
    if (deltaBytes == 0 || inFlight.isEmpty())
        return;
    tally.AddArrived(deltaBytes, downloadSpeed);
    emit ProgressValue(tally.BarValue());
    ShowProgress();
}

QHash<QString, DownloadItem>::iterator UpdateRun::InFlightAt(const QString &path)
{
    const auto item = inFlight.find(path.mid(path.lastIndexOf(QLatin1Char('/')) + 1));
    return item != inFlight.end() && item->folder + item->fileName == path ? item : inFlight.end();
}

void UpdateRun::ShowProgress()
{
    emit UserMessage(bPaused ? PausedText(tally.BytesLeft())
                             : tally.Text(downloadQueue.size() + inFlight.size()));
}

void UpdateRun::SetPaused(bool bPause)
{
    bPaused = bPause;
    qCInfo(lcRun).noquote() << (bPause ? QStringLiteral("Downloads paused")
                                       : QStringLiteral("Downloads resumed"));
    if (step == RunStep::Downloads)
        ShowProgress();
}

void UpdateRun::PasswordRequired()
{
    ProxyPasswordRequired(QString());
}

void UpdateRun::ProxyPasswordRequired(QString proxy)
{
    // Login answers the password with a request for the notes. The player may give none and leave.
    Advance(RunEvent::PasswordRequired);
    RestorePreviousReleaseNotes();
    emit PasswordWanted(proxy);
}

void UpdateRun::RequestDocument(const QString &document)
{
    QFile::remove(document);
    emit RequestFile(QString(), document);
}

bool UpdateRun::ReportCheck(const ManifestCheck &check)
{
    LogCheckFindings(check);
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
        Advance(RunEvent::Unusable);
        return false;
    }
    return true;
}

void UpdateRun::ShowFullBar()
{
    tally.ShowFull();
    emit ProgressRange(0, 100);
    emit ProgressValue(100);
}

void UpdateRun::ReadReleaseNotes(QDomNode node, bool bOldNotes)
{
    const ReleaseNotes found = ParseReleaseNotes(node, bOldNotes);
    if (found.version)
        (bOldNotes ? notes.previousVersion : notes.latestVersion) = *found.version;
    if (found.date)
        (bOldNotes ? notes.previousReleaseDate : notes.latestReleaseDate) = *found.date;
    notes.notUpdatedFiles += found.notUpdatedFiles;
    for (const QString &text : found.notes)
        emit NotesHtml(MarkupToHtml(text));
    for (int notice = 0; notice < found.updateInProgressNotices; ++notice) {
        emit LogLine(QStringLiteral("New release on server, please try again later"), true);
        notes.bUpdateInProgress = true;
    }
}
