#ifndef UPDATER_H
#define UPDATER_H

#include "updater/downloaditem.h"

#include <QDate>
#include <QList>
#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <QUrl>

#include <memory>

class About;
class Downloader;
class QDomDocument;
class QThread;

namespace Ui {
class Updater;
}

// The updater's only window and the owner of a run: the form, the worker thread with the Downloader
// on it, the About box, and the state that the update stages keep between the Downloader's reports.
class Updater : public QMainWindow
{
    Q_OBJECT

public:
    explicit Updater(QWidget *parent = nullptr);
    // Talks to another update server than the one compiled in (tests start their own).
    Updater(const QUrl &serverUrl, QWidget *parent);
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

    bool bUpdateInProgress = false;
    int downloadedBytes = 0;
    int bytesToDownload = 0;
    QDate previousReleaseDate;
    QDate latestReleaseDate;
    QString previousVersion;
    QString latestVersion;
    std::unique_ptr<QDomDocument> manifestDocument;
    DownloadItem currentDownload;
    QStringList notUpdatedFiles;
    QList<DownloadItem> downloadQueue;
    Downloader *downloader = nullptr;     // lives on workerThread, deletes itself when it ends
    QPointer<QThread> workerThread;       // null once it has deleted itself
    std::unique_ptr<Ui::Updater> ui;
    About *aboutDialog = nullptr;         // child of the window
};

#endif // UPDATER_H
