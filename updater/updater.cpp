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
#include "downloader/downloader.h"
#include "updater/programstarter.h"
#include "updater/progress.h"
#include "updater/statustext.h"

#include <QDomDocument>
#include <QDebug>
#include <QFile>
#include <QFutureWatcher>
#include <QThread>
#include <QtConcurrent>

#include <limits>

namespace {

// Passes that may download before the run gives up on files that never match.
constexpr int maximumDownloadPasses = 3;

// Parses path into document if the file opens, and says whether it did. A document that does not
// parse holds what the parser delivered, and nobody is told: the stages go on with whatever is there.
bool LoadDocument(QDomDocument *document, const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    document->setContent(&file);
    return true;
}

} // namespace

Updater::Updater(QWidget *parent)
    : Updater(Downloader::DefaultServerUrl(), parent)
{
}

Updater::Updater(const QUrl &serverUrl, QWidget *parent)
    : QMainWindow(parent)
    , ui(std::make_unique<Ui::Updater>())
{
    SetMarkerFile(MarkerFiles::accepted, true);
    SetMarkerFile(MarkerFiles::lock, true);

    ui->setupUi(this);
    setWindowTitle(QStringLiteral("更新"));

    workerThread = new QThread;
    downloader = new Downloader(serverUrl);
    aboutDialog = new About(this);
    // Before any connection, so that every slot of the Downloader runs on the worker thread.
    downloader->moveToThread(workerThread);

    connect(ui->about, &QPushButton::clicked, this, &Updater::AboutMe);
    connect(ui->launchGame, &QPushButton::clicked, this, &Updater::LaunchGame);
    connect(downloader, &Downloader::PasswordRequired, this, &Updater::PasswordRequired);
    connect(downloader, &Downloader::BytesDownloaded, this, &Updater::BytesDownloaded);
    connect(downloader, &Downloader::FileDownloaded, this, &Updater::FileDownloaded);
    connect(downloader, &Downloader::NetworkError, this, &Updater::Log);
    connect(workerThread, &QThread::started, downloader, &Downloader::Connect);
    connect(workerThread, &QThread::finished, workerThread, &QObject::deleteLater);
    connect(this, &Updater::DownloadFile, downloader, &Downloader::DownloadFile);
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
    if (LoadDocument(&notes, DocumentFiles::releaseNotes))
        ReadReleaseNotes(notes, false);
    if (LoadDocument(&notes, DocumentFiles::previousReleaseNotes))
        ReadReleaseNotes(notes, true);
    SetUserMessage(QStringLiteral("下载文件列表"));
}

void Updater::Stage2()
{
    qDebug() << "Updater::Stage2";
    // Only one pass writes the queue at a time, and the one that follows replaces it.
    StopVerificationPass();
    manifestDocument = std::make_unique<QDomDocument>(QStringLiteral("files"));
    LoadDocument(manifestDocument.get(), DocumentFiles::manifest);
    SetUserMessage(QStringLiteral("检查本地文件"));
    downloadQueue.clear();

    if (passWatcher) {
        passWatcher->disconnect(this);
        passWatcher->deleteLater();
    }
    passWatcher = new QFutureWatcher<void>(this);
    connect(passWatcher, &QFutureWatcher<void>::finished, this, &Updater::Stage3);
    passWatcher->setFuture(StartVerificationPass());
}

void Updater::Stage3()
{
    qDebug() << "Updater::Stage3";
    manifestDocument.reset();
    progressDivisor = ProgressBarDivisor(bytesToDownload);
    ui->downloadProgress->setRange(0, int(bytesToDownload / progressDivisor));
    SetUserMessage(QStringLiteral("下载中..."));

    if (!bUpdateInProgress && !downloadQueue.isEmpty()) {
        if (downloadPasses == maximumDownloadPasses) {
            GiveUp();
            return;
        }
        ++downloadPasses;
        DownloadNextQueuedFile();
        return;
    }

    progressDivisor = 1;
    ui->downloadProgress->setRange(0, 100);
    ui->downloadProgress->setValue(100);
    if (!QFile::exists(MarkerFiles::installed)) {
        SetUserMessage(QStringLiteral("安装程序"));
        StartProgram(Programs::prerequisitesInstaller);
        SetMarkerFile(MarkerFiles::installed, true);
    }
    SetUserMessage(QStringLiteral("准备启动!"));
    ui->launchGame->setEnabled(true);
}

void Updater::DownloadNextQueuedFile()
{
    currentDownload = downloadQueue.takeFirst();
    emit DownloadFile(currentDownload.folder, currentDownload.fileName);
}

void Updater::GiveUp()
{
    SetUserMessage(QStringLiteral("更新失败"));
    for (const DownloadItem &item : qAsConst(downloadQueue)) {
        Log(QStringLiteral("Still different from the manifest after %1 downloads: %2")
                .arg(maximumDownloadPasses)
                .arg(item.folder + item.fileName),
            true);
    }
}

void Updater::PasswordRequired()
{
    // The password starts the run over, with download passes of its own.
    downloadPasses = 0;
    // A fresh prompt for every request; it stays a hidden child of the window afterwards.
    auto *prompt = new Password(this);
    connect(prompt, &Password::PasswordEntered, downloader, &Downloader::Login);
    prompt->exec();
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
    if (downloadedFile == DocumentFiles::releaseNotes) {
        Stage1();
        emit DownloadFile(QString(), DocumentFiles::manifest);
    } else if (downloadedFile == DocumentFiles::manifest) {
        Stage2();
    } else {
        Log(currentDownload.folder + currentDownload.fileName, false);
        if (downloadQueue.isEmpty()) {
            progressDivisor = 1;
            ui->downloadProgress->setRange(0, 100);
            ui->downloadProgress->setValue(100);
            Stage2();
        } else {
            DownloadNextQueuedFile();
        }
    }
}

void Updater::LaunchGame()
{
    ui->launchGame->setEnabled(false);
    StartProgram(Programs::application);
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

void Updater::CheckFolder(QDomNode node, QString folder)
{
    const ManifestCheck check =
        CheckManifest(node, folder, notUpdatedFiles, QString(), &verificationControl);
    if (check.bCancelled)
        return;
    for (const QString &path : check.rejectedPaths) {
        const QString message =
            QStringLiteral("Skipped a manifest entry outside the installation: ") + path;
        // A pass runs on the thread pool, and the window's slots belong to the GUI thread.
        QMetaObject::invokeMethod(this, [this, message] { Log(message, true); });
    }
    downloadQueue += check.downloads;
    bytesToDownload += check.bytesToDownload;
}

QString Updater::FileMd5(QFile *file)
{
    return ::FileMd5(file);
}

QFuture<void> Updater::StartVerificationPass()
{
    Q_ASSERT(!verificationPass.isRunning());
    verificationControl.bCancel = false;
    verificationPass =
        QtConcurrent::run(this, &Updater::CheckFolder, QDomNode(*manifestDocument), QString());
    return verificationPass;
}

void Updater::StopVerificationPass()
{
    verificationControl.bCancel = true;
    verificationPass.waitForFinished();
}
