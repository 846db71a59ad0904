#include "updater.h"
#include "ui_updater.h"

#include "app/markerfile.h"
#include "dialogs/about.h"
#include "dialogs/password.h"
#include "documents/documentfiles.h"
#include "documents/filehash.h"
#include "documents/manifestcheck.h"
#include "documents/markup.h"
#include "documents/releasenotes.h"
#include "documents/releasesignature.h"
#include "documents/verificationpass.h"
#include "documents/xmldocument.h"
#include "downloader/downloader.h"
#include "updater/programstarter.h"
#include "updater/progress.h"
#include "updater/statustext.h"
#include "updaterconfig.h"

#include <QDomDocument>
#include <QDebug>
#include <QFile>
#include <QFutureWatcher>
#include <QLoggingCategory>
#include <QThread>
#include <QtConcurrent>

#include <limits>
#include <utility>

Q_LOGGING_CATEGORY(lcVerification, "updater.verification")

Updater::Updater(QWidget *parent)
    : Updater(Downloader::DefaultServerUrl(), parent, UpdaterConfig::publicKey)
{
}

Updater::Updater(const QUrl &serverUrl, QWidget *parent, const QByteArray &publicKey,
                 const UpdaterConfig::RunSettings &settings)
    : QMainWindow(parent)
    , settings(settings)
    , bSignedRelease(!publicKey.isEmpty())
    , releaseKey(DecodePublicKey(publicKey))
    , ui(std::make_unique<Ui::Updater>())
{
    SetMarkerFile(MarkerFiles::accepted, true);
    SetMarkerFile(MarkerFiles::lock, true);

    ui->setupUi(this);
    setWindowTitle(QStringLiteral("更新"));
    // The overlay picture lies above the notes and the About button; clicks go through it to them.
    ui->image_2->setAttribute(Qt::WA_TransparentForMouseEvents);

    workerThread = new QThread;
    downloader = new Downloader(serverUrl, settings);
    aboutDialog = new About(this);
    // Before the thread starts: its started signal runs Connect, which must find the Downloader
    // at home there. The connections below decide at each emission where a slot runs.
    downloader->moveToThread(workerThread);

    connect(ui->about, &QPushButton::clicked, this, &Updater::AboutMe);
    connect(ui->launchGame, &QPushButton::clicked, this, &Updater::LaunchGame);
    connect(downloader, &Downloader::PasswordRequired, this, &Updater::PasswordRequired);
    connect(downloader, &Downloader::BytesDownloaded, this, &Updater::BytesDownloaded);
    connect(downloader, &Downloader::FileDownloaded, this, &Updater::FileDownloaded);
    connect(downloader, &Downloader::NetworkError, this, &Updater::Log);
    connect(downloader, &Downloader::FileCommitted, this, &Updater::RecordCommittedFile);
    connect(workerThread, &QThread::started, downloader, &Downloader::Connect);
    connect(workerThread, &QThread::finished, workerThread, &QObject::deleteLater);
    connect(this, &Updater::DownloadFile, downloader, &Downloader::DownloadFile);
    connect(this, &Updater::ExpectFiles, downloader, &Downloader::ExpectFiles);
    // The Downloader's network objects belong to the worker thread, so they die there too, as it ends.
    connect(workerThread, &QThread::finished, downloader, &QObject::deleteLater);

    SetUserMessage(QStringLiteral("下载更新公告"));
    workerThread->start(QThread::InheritPriority);
}

Updater::~Updater()
{
    // The marker goes first: whatever happens below, the next start must not find it.
    SetMarkerFile(MarkerFiles::lock, false);
    // A pass still running writes into the members: it must have ended before they die.
    StopVerificationPass();
    ui.reset();
    if (workerThread) {
        workerThread->quit();
        workerThread->wait();
        // Deleting it here also drops the deleteLater that its finished signal has just queued.
        delete workerThread;
    }
}

void Updater::SetMarkerFile(QString path, bool bPresent)
{
    ::SetMarkerFile(path, bPresent);
}

void Updater::Stage1()
{
    qDebug() << "Updater::Stage1";
    QDomDocument notes(QStringLiteral("notes"));
    // Without the notes, the files that the user may keep as edited are unknown.
    const QString error = LoadReleaseDocument(DocumentFiles::releaseNotes, &notes);
    if (!error.isEmpty()) {
        // Nor may they name the installed version at the next start.
        QFile::remove(DocumentFiles::releaseNotes);
        FailOnDocument(DocumentFiles::releaseNotes, error);
        return;
    }
    ReadReleaseNotes(notes, false);
    // The previous notes only name the installed version: they may well be missing or broken.
    if (!XmlDocumentProblem(DocumentFiles::previousReleaseNotes, settings.documentBytes, &notes))
        ReadReleaseNotes(notes, true);
    SetUserMessage(QStringLiteral("下载文件列表"));
    RequestDocument(DocumentFiles::manifest, Awaiting::Manifest);
}

void Updater::Stage2()
{
    qDebug() << "Updater::Stage2";
    // Only one pass writes the queue at a time, and the one that follows replaces it.
    StopVerificationPass();
    manifestDocument = std::make_unique<QDomDocument>(QStringLiteral("files"));
    const QString error = LoadReleaseDocument(DocumentFiles::manifest, manifestDocument.get());
    if (!error.isEmpty()) {
        manifestDocument.reset();
        FailOnDocument(DocumentFiles::manifest, error);
        return;
    }
    SetUserMessage(QStringLiteral("检查本地文件"));
    downloadQueue.clear();

    if (passWatcher) {
        passWatcher->disconnect(this);
        passWatcher->deleteLater();
    }
    passWatcher = new QFutureWatcher<ManifestCheck>(this);
    connect(passWatcher, &QFutureWatcher<ManifestCheck>::finished, this, &Updater::Stage3);
    passWatcher->setFuture(StartVerificationPass());
}

void Updater::Stage3()
{
    qDebug() << "Updater::Stage3";
    manifestDocument.reset();
    const ManifestCheck check = passWatcher->result();
    for (const QString &path : check.rejectedPaths)
        Log(QStringLiteral("Skipped a manifest entry with an unsafe path: ") + path, true);
    for (const QString &path : check.ownPaths)
        Log(QStringLiteral("Skipped a manifest entry that names one of the updater's own files: ")
                + path,
            true);
    for (const QString &path : check.unreadablePaths)
        Log(QStringLiteral("Cannot read %1: it is fetched again").arg(path), true);
    for (const QString &problem : check.recordProblems)
        Log(problem, true);
    qCInfo(lcVerification).noquote()
        << QStringLiteral("Checked %1 files: read %2, knew %3 from the record")
               .arg(check.listedFiles)
               .arg(check.filesHashed)
               .arg(check.filesFromRecord);
    // What an error page or a captive portal sends may well parse, but it lists nothing.
    if (check.listedFiles == 0) {
        FailOnDocument(DocumentFiles::manifest, QStringLiteral("it lists no file"));
        return;
    }
    // Nothing may be written where a folder or a device stands, and the installation is not whole
    // without that file: the player must make room for it.
    if (!check.notRegularPaths.isEmpty()) {
        for (const QString &path : check.notRegularPaths) {
            Log(QStringLiteral("Cannot install %1: a folder, a FIFO or a device stands at its path")
                    .arg(path),
                true);
        }
        SetUserMessage(QStringLiteral("更新失败"));
        return;
    }
    downloadQueue += check.downloads;
    bytesToDownload += check.bytesToDownload;

    progressDivisor = ProgressBarDivisor(bytesToDownload);
    ui->downloadProgress->setRange(0, int(bytesToDownload / progressDivisor));
    SetUserMessage(QStringLiteral("下载中..."));

    if (!bUpdateInProgress && !downloadQueue.isEmpty()) {
        if (downloadPasses == settings.downloadPasses) {
            GiveUp();
            return;
        }
        ++downloadPasses;
        emit ExpectFiles(downloadQueue);
        DownloadNextQueuedFile();
        return;
    }

    progressDivisor = 1;
    ui->downloadProgress->setRange(0, 100);
    ui->downloadProgress->setValue(100);
    if (!QFile::exists(MarkerFiles::installed)) {
        SetUserMessage(QStringLiteral("安装程序"));
        const QString error = StartProgram(Programs::prerequisitesInstaller);
        // Without the marker, the next completed run tries again.
        if (error.isEmpty()) {
            SetMarkerFile(MarkerFiles::installed, true);
        } else {
            Log(QStringLiteral("Cannot start the prerequisites installer %1: %2")
                    .arg(Programs::prerequisitesInstaller, error),
                true);
        }
    }
    SetUserMessage(QStringLiteral("准备启动!"));
    ui->launchGame->setEnabled(true);
}

QString Updater::LoadReleaseDocument(const QString &path, QDomDocument *document) const
{
    return (bSignedRelease ? SignedXmlDocumentProblem(path, settings.documentBytes, releaseKey, document)
                           : XmlDocumentProblem(path, settings.documentBytes, document))
        .value_or(QString());
}

void Updater::RequestDocument(const QString &document, Awaiting answer)
{
    QFile::remove(document);
    awaiting = answer;
    emit DownloadFile(QString(), document);
}

void Updater::DownloadNextQueuedFile()
{
    awaiting = Awaiting::QueuedFile;
    currentDownload = downloadQueue.takeFirst();
    emit DownloadFile(currentDownload.folder, currentDownload.fileName);
}

void Updater::GiveUp()
{
    SetUserMessage(QStringLiteral("更新失败"));
    for (const DownloadItem &item : qAsConst(downloadQueue)) {
        Log(QStringLiteral("Still different from the manifest after %1 downloads: %2")
                .arg(settings.downloadPasses)
                .arg(item.folder + item.fileName),
            true);
    }
}

void Updater::FailOnDocument(const QString &document, const QString &reason)
{
    awaiting = Awaiting::Nothing;
    Log(QStringLiteral("Cannot use %1: %2").arg(document, reason), true);
    SetUserMessage(QStringLiteral("更新失败"));
    ui->launchGame->setEnabled(QFile::exists(MarkerFiles::installed));
}

void Updater::PasswordRequired()
{
    // Login answers the password with a request for the notes: the run starts over, with download
    // passes of its own, and only notes that arrive anew count.
    awaiting = Awaiting::ReleaseNotes;
    downloadPasses = 0;
    QFile::remove(DocumentFiles::releaseNotes);
    // The open prompt answers this demand too. One that was answered is on its way out.
    if (passwordPrompt && passwordPrompt->isVisible())
        return;
    passwordPrompt = new Password(this);
    passwordPrompt->setAttribute(Qt::WA_DeleteOnClose);
    connect(passwordPrompt, &Password::PasswordEntered, downloader, &Downloader::Login);
    // Modal all the same, but without an event loop of its own that would run the window's other
    // slots nested inside this one.
    passwordPrompt->show();
}

void Updater::BytesDownloaded(int deltaBytes, float downloadSpeed)
{
    if (deltaBytes == 0)
        return;
    downloadedBytes += deltaBytes;
    SetProgressValue(downloadedBytes);
    SetUserMessage(ProgressText(downloadQueue.size() + 1, bytesToDownload - downloadedBytes,
                                downloadSpeed));
}

void Updater::SetProgressValue(qint64 bytes)
{
    // A value outside the bar's range leaves the bar as it is.
    constexpr qint64 largest = std::numeric_limits<int>::max();
    ui->downloadProgress->setValue(int(qBound(-largest, bytes / progressDivisor, largest)));
}

void Updater::FileDownloaded(QString downloadedFile)
{
    // The answer is to what was asked for, whatever the file's name.
    Q_UNUSED(downloadedFile)
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
    case Awaiting::QueuedFile:
        Log(currentDownload.folder + currentDownload.fileName, false);
        if (downloadQueue.isEmpty()) {
            progressDivisor = 1;
            ui->downloadProgress->setRange(0, 100);
            ui->downloadProgress->setValue(100);
            Stage2();
        } else {
            DownloadNextQueuedFile();
        }
        break;
    case Awaiting::Nothing:
        break;
    }
}

void Updater::LaunchGame()
{
    ui->launchGame->setEnabled(false);
    const QString error = StartProgram(Programs::application);
    if (!error.isEmpty()) {
        // The window stays, so that the user sees it and may try again.
        Log(QStringLiteral("Cannot start the application %1: %2").arg(Programs::application, error),
            true);
        SetUserMessage(QStringLiteral("启动失败"));
        ui->launchGame->setEnabled(true);
        return;
    }
    close();
    QCoreApplication::quit();
}

void Updater::AboutMe()
{
    aboutDialog->show();
}

void Updater::Log(QString message, bool bIsHeavy)
{
    Q_UNUSED(bIsHeavy)
    qDebug() << message;
}

void Updater::SetUserMessage(QString message)
{
    ui->userInformation->setText(StatusLineHtml(previousVersion, message));
}

void Updater::ReadReleaseNotes(QDomNode node, bool bOldNotes)
{
    const ReleaseNotes found = ParseReleaseNotes(node, bOldNotes);
    if (found.version)
        (bOldNotes ? previousVersion : latestVersion) = *found.version;
    if (found.date)
        (bOldNotes ? previousReleaseDate : latestReleaseDate) = *found.date;
    notUpdatedFiles += found.notUpdatedFiles;
    for (const QString &notes : found.notes)
        ui->releaseNotes->setHtml(MarkupToHtml(notes));
    for (int notice = 0; notice < found.updateInProgressNotices; ++notice) {
        Log(QStringLiteral("New release on server, please try again later"), true);
        bUpdateInProgress = true;
    }
}

ManifestCheck Updater::CheckFolder(QDomNode node, QString folder)
{
    return RunVerificationPass(node, folder, notUpdatedFiles, DigestRecord::installationRecordPath(),
                               passCommittedDigests, &verificationControl);
}

QString Updater::FileMd5(QFile *file)
{
    return ::FileMd5(file);
}

QFuture<ManifestCheck> Updater::StartVerificationPass()
{
    Q_ASSERT(!verificationPass.isRunning());
    verificationControl.bCancel = false;
    passCommittedDigests = std::exchange(committedDigests, DigestRecord());
    verificationPass =
        QtConcurrent::run(this, &Updater::CheckFolder, QDomNode(*manifestDocument), QString());
    return verificationPass;
}

void Updater::RecordCommittedFile(QString path, FileStamp stamp, QString md5)
{
    committedDigests.insert(path, stamp, md5);
}

void Updater::StopVerificationPass()
{
    verificationControl.bCancel = true;
    verificationPass.waitForFinished();
}
