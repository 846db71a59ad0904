#include "updater.h"
#include "ui_updater.h"

#include "app/markerfile.h"
#include "dialogs/about.h"
#include "documents/filehash.h"
#include "documents/manifestcheck.h"
#include "documents/markup.h"
#include "documents/releasenotes.h"
#include "downloader/downloader.h"
#include "updater/statustext.h"

#include <QDomDocument>
#include <QDebug>
#include <QFile>
#include <QThread>
#include <QtConcurrent>


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
    verificationControl.bCancel = true;
    verificationPass.waitForFinished();
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

// The update stages (Stage1 to Stage3, the file dispatch, the progress display, the password prompt
// and the launch) are wired here and built with the whole run, issue #5.
void Updater::Stage1() {}
void Updater::Stage2() {}
void Updater::Stage3() {}
void Updater::PasswordRequired() {}
void Updater::BytesDownloaded(int, float) {}
void Updater::FileDownloaded(QString) {}
void Updater::LaunchGame() {}

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
    verificationPass =
        QtConcurrent::run(this, &Updater::CheckFolder, QDomNode(*manifestDocument), QString());
    return verificationPass;
}
