#ifndef UPDATER_H
#define UPDATER_H

#include "documents/digestrecord.h"
#include "documents/downloaditem.h"
#include "documents/filehash.h"
#include "documents/manifestcheck.h"
#include "updaterconfig.h"

#include <QDate>
#include <QFuture>
#include <QList>
#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <QUrl>

#include <memory>

class About;
class Downloader;
class Password;
template <typename T> class QFutureWatcher;
class QDomDocument;
class QDomNode;
class QFile;
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
    // Talks to another update server than the one compiled in (tests start their own), takes the
    // release documents' signatures by the key whose base64 is publicKey, or none if it is empty, and
    // waits and takes as settings say.
    Updater(const QUrl &serverUrl, QWidget *parent, const QByteArray &publicKey = QByteArray(),
            const UpdaterConfig::RunSettings &settings = {});
    ~Updater() override;

    static void SetMarkerFile(QString path, bool bPresent);

signals:
    void DownloadFile(QString dir, QString file);
    // What the files of the next downloads must be; comes before their DownloadFile.
    void ExpectFiles(QList<DownloadItem> files);

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

private slots:
    void RecordCommittedFile(QString path, FileStamp stamp, QString md5);

private:
    friend class tst_Updater;
    friend class tst_UpdaterDocuments;

    // What the window has asked the Downloader for, and so what its next FileDownloaded answers. A
    // file of the application may well be named like one of the documents.
    enum class Awaiting {
        Nothing,
        ReleaseNotes,
        ReleaseNotesSignature,
        Manifest,
        ManifestSignature,
        QueuedFile
    };


    // Applies what a release-notes document says to the window; bOldNotes for the previous run's copy.
    void ReadReleaseNotes(QDomNode node, bool bOldNotes);
    // One verification pass over the manifest below node, in folder: what is missing or different.
    // Runs on the thread pool and writes nothing of the window; Stage3 applies what it found. It
    // reads notUpdatedFiles, which only Stage1 writes, and no Stage1 runs during a pass: the window
    // asks for nothing then, and ignores any answer that it did not ask for. The record of verified
    // digests spares it reading the files that have not changed since they were last read or written.
    ManifestCheck CheckFolder(QDomNode node, QString folder);
    QString FileMd5(QFile *file);
    // Starts CheckFolder over manifestDocument (which must exist and stay unchanged until the pass
    // ends) on the global thread pool, and keeps it in verificationPass so that the destructor can
    // stop it. Every pass starts this way, after the previous one has been stopped.
    QFuture<ManifestCheck> StartVerificationPass();
    // Cancels the running pass, if any, and waits for it: within one chunk of one file.
    void StopVerificationPass();
    // Parses the release document at path, which must carry its signature if the build has a key.
    QString LoadReleaseDocument(const QString &path, QDomDocument *document) const;
    // Asks the Downloader for one of the documents (or a signature) at the top of the release. A copy
    // from earlier in this run must not stand in for an answer that fails, so it goes first.
    void RequestDocument(const QString &document, Awaiting answer);
    // Takes the head of downloadQueue into currentDownload and requests it.
    void DownloadNextQueuedFile();
    // Ends a run whose files never matched: nothing more is fetched and launching stays disabled.
    void GiveUp();
    // Ends a run that cannot trust what the server said: nothing is fetched or installed. An
    // installation that a run has completed before can still be launched as it is.
    void FailOnDocument(const QString &document, const QString &reason);
    void SetProgressValue(qint64 bytes);

    const UpdaterConfig::RunSettings settings;
    Awaiting awaiting = Awaiting::ReleaseNotes; // the Downloader asks for the notes as it starts
    // With a key, both documents count only with their signature by it (32 bytes: a key of another
    // length makes every signature fail rather than none be asked for).
    bool bSignedRelease = false;
    QByteArray releaseKey;
    bool bUpdateInProgress = false;
    qint64 downloadedBytes = 0;
    qint64 bytesToDownload = 0;
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
    QPointer<Password> passwordPrompt;    // the one open prompt; it deletes itself once answered
    // The running verification pass reads the manifest and the files. The destructor cancels it
    // through verificationControl and waits for it before any member dies.
    HashControl verificationControl;
    QFuture<ManifestCheck> verificationPass;
    // The digests of the files that the Downloader has put in place since the last pass began. That
    // pass took them over into passCommittedDigests, which no one writes while it runs.
    DigestRecord committedDigests;
    DigestRecord passCommittedDigests;
    // Child of the window; hands the pass's result to Stage3.
    QFutureWatcher<ManifestCheck> *passWatcher = nullptr;
    // Download passes since the run began (at start, or after a password). A file whose download
    // never matches its digest must not keep the updater fetching for ever, not even one that is
    // named like the release notes and so restarts the stages each time it arrives.
    int downloadPasses = 0;
    // Byte counts are divided by this before they reach the progress bar, whose range is an int.
    qint64 progressDivisor = 1;
};

#endif // UPDATER_H
