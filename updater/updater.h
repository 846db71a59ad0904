#ifndef UPDATER_H
#define UPDATER_H

#include "downloader/network/updateserver.h"
#include "updaterconfig.h"

#include <QMainWindow>
#include <QPointer>

#include <memory>

class About;
class DownloadControl;
class Downloader;
class DownloaderThread;
class Password;
class UpdateRun;

namespace Ui {
class Updater;
}

// The updater's only window: its form, the About box, the password prompt, and the worker thread
// with the Downloader on it. What a run does is the UpdateRun's; the window shows what the run says,
// and its slots of the stages and the Downloader's reports pass on to the run.
class Updater : public QMainWindow
{
    Q_OBJECT

public:
    explicit Updater(QWidget *parent = nullptr, const UpdaterConfig::RunSettings &settings = {});
    // Talks to another update server than the one compiled in (tests start their own), takes the
    // release documents' signatures by the key whose base64 is publicKey, or none if it is empty, and
    // waits and takes as settings say.
    Updater(const UpdateServer &server, QWidget *parent, const QByteArray &publicKey = QByteArray(),
            const UpdaterConfig::RunSettings &settings = {});
    ~Updater() override;

    static void SetMarkerFile(QString path, bool bPresent);

    // The application's exit code once the run has swapped the updater's program: the entry starts
    // the new one (SwappedProgram says where the previous one was kept, and the new one's digest).
    static constexpr int restartExitCode = 75;
    struct ProgramSwap
    {
        QString aside;
        QString md5;
    };
    ProgramSwap SwappedProgram() const { return swapped; }

signals:
    // Tells of every file that the run asks the Downloader for.
    void DownloadFile(QString dir, QString file);
    // The first answer to a request has come, whatever it was: the window runs.
    void Running();

public slots:
    // The stages and the Downloader's reports, as the run takes them.
    void Stage1();
    void Stage2();
    void Stage3();
    void PasswordRequired();
    void BytesDownloaded(int deltaBytes, float downloadSpeed);
    void FileDownloaded(QString downloadedFile);
    void LaunchGame();
    void AboutMe();
    void Log(QString message, bool bIsHeavy);
    void SetUserMessage(QString message);

private:
    // For the server, or for the proxy at proxy when it is not empty.
    void ShowPasswordPrompt(const QString &proxy);
    // The player's limit (kept in ConfigFiles::settings), pause and repair.
    void SetUpDownloadControl(Downloader *downloader);

    std::unique_ptr<Ui::Updater> ui;
    About *aboutDialog = nullptr;         // child of the window
    DownloadControl *downloadControl = nullptr;  // child of the window
    QPointer<Password> passwordPrompt;    // the one open prompt; it deletes itself once answered
    std::unique_ptr<UpdateRun> run;
    // Child of the window; the run is wired to its Downloader.
    DownloaderThread *downloaderThread = nullptr;
    ProgramSwap swapped;
    QMetaObject::Connection firstAnswer;
};

#endif // UPDATER_H
