#ifndef UPDATER_H
#define UPDATER_H

#include "updaterconfig.h"

#include <QMainWindow>
#include <QPointer>
#include <QUrl>

#include <memory>

class About;
class Downloader;
class Password;
class QThread;
class UpdateRun;

namespace Ui {
class Updater;
}

// The updater's only window: its form, the About box, the password prompt, and the worker thread
// with the Downloader on it. What a run does is the UpdateRun's; the window shows what the run says
// and passes on what the Downloader reports.
class Updater : public QMainWindow
{
    Q_OBJECT

public:
    explicit Updater(QWidget *parent = nullptr, const UpdaterConfig::RunSettings &settings = {});
    // Talks to another update server than the one compiled in (tests start their own), takes the
    // release documents' signatures by the key whose base64 is publicKey, or none if it is empty, and
    // waits and takes as settings say.
    Updater(const QUrl &serverUrl, QWidget *parent, const QByteArray &publicKey = QByteArray(),
            const UpdaterConfig::RunSettings &settings = {});
    ~Updater() override;

    static void SetMarkerFile(QString path, bool bPresent);

signals:
    void DownloadFile(QString dir, QString file);

public slots:
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
    friend class tst_Updater;

    void ShowPasswordPrompt();

    std::unique_ptr<Ui::Updater> ui;
    About *aboutDialog = nullptr;         // child of the window
    QPointer<Password> passwordPrompt;    // the one open prompt; it deletes itself once answered
    Downloader *downloader = nullptr;     // lives on workerThread, deletes itself when it ends
    QPointer<QThread> workerThread;       // null once it has deleted itself
    std::unique_ptr<UpdateRun> run;
};

#endif // UPDATER_H
