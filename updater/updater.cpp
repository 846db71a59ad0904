#include "updater.h"
#include "ui_updater.h"

#include "app/markerfile.h"
#include "app/updaterfiles.h"
#include "dialogs/about.h"
#include "dialogs/password.h"
#include "downloader/downloader.h"
#include "downloader/downloaderthread.h"
#include "app/runlog.h"
#include "updater/downloadcontrol/downloadcontrol.h"
#include "updater/downloadcontrol/speedlimitsetting.h"
#include "updater/richtextresources.h"
#include "updater/statustext.h"
#include "updater/updaterun.h"

#include <QDebug>

Updater::Updater(QWidget *parent, const UpdaterConfig::RunSettings &settings)
    : Updater(UpdateServer::Compiled(), parent, UpdaterConfig::publicKey, settings)
{
}

Updater::Updater(const UpdateServer &server, QWidget *parent, const QByteArray &publicKey,
                 const UpdaterConfig::RunSettings &settings)
    : QMainWindow(parent)
    , ui(std::make_unique<Ui::Updater>())
    , run(std::make_unique<UpdateRun>(publicKey, settings))
{
    SetMarkerFile(MarkerFiles::accepted, true);
    SetMarkerFile(MarkerFiles::lock, true);

    ui->setupUi(this);
    setWindowTitle(QStringLiteral("更新"));
    // The overlay picture lies above the notes and the About button; clicks go through it to them.
    ui->image_2->setAttribute(Qt::WA_TransparentForMouseEvents);
    // The notes are the server's HTML: what they name is not loaded, and their links lead nowhere.
    ui->releaseNotes->setDocument(new EmbeddedOnlyDocument(ui->releaseNotes));
    ui->releaseNotes->document()->setDefaultFont(ui->releaseNotes->font());
    ui->releaseNotes->setOpenLinks(false);

    downloaderThread = new DownloaderThread(server, settings, this);
    Downloader *downloader = downloaderThread->downloader();
    aboutDialog = new About(this);

    connect(ui->about, &QPushButton::clicked, this, &Updater::AboutMe);
    connect(ui->launchGame, &QPushButton::clicked, this, &Updater::LaunchGame);
    connect(downloader, &Downloader::NetworkError, this, &Updater::Log);

    // The run asks the Downloader for files and hears its reports; the window shows what the run
    // says.
    run->ConnectTo(downloader);
    connect(run.get(), &UpdateRun::RequestFile, this, &Updater::DownloadFile);
    connect(run.get(), &UpdateRun::UserMessage, this, &Updater::SetUserMessage);
    connect(run.get(), &UpdateRun::LogLine, this, &Updater::Log);
    connect(run.get(), &UpdateRun::NotesHtml, ui->releaseNotes, &QTextBrowser::setHtml);
    connect(run.get(), &UpdateRun::ProgressRange, ui->downloadProgress, &QProgressBar::setRange);
    connect(run.get(), &UpdateRun::ProgressValue, ui->downloadProgress, &QProgressBar::setValue);
    connect(run.get(), &UpdateRun::LaunchAllowed, ui->launchGame, &QPushButton::setEnabled);
    connect(run.get(), &UpdateRun::PasswordWanted, this, &Updater::ShowPasswordPrompt);
    connect(run.get(), &UpdateRun::Launched, this, [this] {
        close();
        QCoreApplication::quit();
    });
    connect(run.get(), &UpdateRun::RestartWanted, this,
            [this](const QString &aside, const QString &md5) {
                swapped = {aside, md5};
                close();
                QCoreApplication::exit(restartExitCode);
            });
    firstAnswer = connect(downloader, &Downloader::FileDownloaded, this, [this] {
        disconnect(firstAnswer);
        emit Running();
    });

    SetUpDownloadControl(downloader);

    SetUserMessage(QStringLiteral("下载更新公告"));
    downloaderThread->Start();
}

Updater::~Updater()
{
    // The marker goes first: whatever happens below, the next start must not find it.
    SetMarkerFile(MarkerFiles::lock, false);
    // A verification pass still running reads the installation: the run stops it as it goes.
    run.reset();
    ui.reset();
    // The worker thread ends, and the Downloader with it, before the window's children go.
    delete downloaderThread;
}

void Updater::SetMarkerFile(QString path, bool bPresent)
{
    ::SetMarkerFile(path, bPresent);
}

void Updater::Stage1()
{
    run->Stage1();
}

void Updater::Stage2()
{
    run->Stage2();
}

void Updater::Stage3()
{
    run->Stage3();
}

void Updater::PasswordRequired()
{
    run->PasswordRequired();
}

void Updater::BytesDownloaded(int deltaBytes, float downloadSpeed)
{
    run->BytesDownloaded(deltaBytes, downloadSpeed);
}

void Updater::FileDownloaded(QString downloadedFile)
{
    run->FileDownloaded(downloadedFile);
}

void Updater::LaunchGame()
{
    ui->launchGame->setEnabled(false);
    run->Launch();
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
    ui->userInformation->setText(StatusLineHtml(run->PreviousVersion(), message));
}

void Updater::SetUpDownloadControl(Downloader *downloader)
{
    const SpeedLimitSetting stored = ReadSpeedLimit(ConfigFiles::settings);
    if (stored.problem)
        qCWarning(lcRun).noquote() << *stored.problem;
    else if (stored.kibPerSecond > 0)
        qCInfo(lcRun).noquote() << QStringLiteral("Download speed limit: %1 KiB/s, from %2")
                                       .arg(stored.kibPerSecond)
                                       .arg(ConfigFiles::settings);
    downloadControl = new DownloadControl(ui->downloadControl, stored.kibPerSecond, this);
    const auto limitDownloads = [downloader](qint64 kibPerSecond) {
        // Queued: the Downloader lives on the worker thread, whose loop takes it before a reply.
        QMetaObject::invokeMethod(downloader, [downloader, kibPerSecond] {
            downloader->SetSpeedLimit(kibPerSecond * 1024);
        });
    };
    limitDownloads(stored.kibPerSecond);
    connect(downloadControl, &DownloadControl::LimitChosen, this, [limitDownloads](qint64 kib) {
        qCInfo(lcRun).noquote() << QStringLiteral("Download speed limit set to %1 KiB/s").arg(kib);
        limitDownloads(kib);
        if (const std::optional<QString> problem = WriteSpeedLimit(ConfigFiles::settings, kib))
            qCWarning(lcRun).noquote() << *problem;
    });
    connect(downloadControl, &DownloadControl::PauseChosen, downloader, &Downloader::SetPaused);
    connect(downloadControl, &DownloadControl::PauseChosen, run.get(), &UpdateRun::SetPaused);
    connect(downloadControl, &DownloadControl::RepairChosen, run.get(), &UpdateRun::Repair);
}

void Updater::ShowPasswordPrompt(const QString &proxy)
{
    // The open prompt answers this demand too. One that was answered is on its way out.
    if (passwordPrompt && passwordPrompt->isVisible())
        return;
    passwordPrompt = new Password(this, proxy);
    passwordPrompt->setAttribute(Qt::WA_DeleteOnClose);
    connect(passwordPrompt, &Password::PasswordEntered, downloaderThread->downloader(),
            &Downloader::Login);
    connect(passwordPrompt, &Password::ProxyLoginEntered, downloaderThread->downloader(),
            &Downloader::ProxyLogin);
    // Modal all the same, but without an event loop of its own that would run the window's other
    // slots nested inside this one.
    passwordPrompt->show();
}
