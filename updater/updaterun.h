#ifndef UPDATERUN_H
#define UPDATERUN_H

#include "documents/installation/digestrecord.h"
#include "documents/installation/downloaditem.h"
#include "documents/installation/filehash.h"
#include "documents/installation/manifestcheck.h"
#include "documents/release/releasestatement.h"
#include "updaterconfig.h"

#include <QDate>
#include <QFuture>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

template <typename T> class QFutureWatcher;
class QDomDocument;
class QDomNode;

// One update run, from the release notes to the launch, without a widget: what was asked of the
// Downloader and what comes next, the queue, the verification passes, the counters, the documents'
// signatures and the endings. The window shows what its signals say and hands it what the
// Downloader reports; the run asks the Downloader for files through the window. It lives on the
// GUI thread.
class UpdateRun : public QObject
{
    Q_OBJECT

public:
    // With a publicKey (base64), both documents count only with their signature by it.
    explicit UpdateRun(const QByteArray &publicKey = QByteArray(),
                       const UpdaterConfig::RunSettings &settings = {}, QObject *parent = nullptr);
    // Stops a pass that still runs: it writes into the run.
    ~UpdateRun() override;

    // The installed release's version, which leads every status text once the notes are read.
    QString PreviousVersion() const { return previousVersion; }

public slots:
    // The release notes have arrived: read them and ask for the manifest.
    void Stage1();
    // The manifest has arrived: start a verification pass over the installation.
    void Stage2();
    // The pass has ended: fetch what it found, or finish the run.
    void Stage3();
    // What the Downloader reports.
    void FileDownloaded(QString downloadedFile);
    void BytesDownloaded(int deltaBytes, float downloadSpeed);
    void RecordCommittedFile(QString path, FileStamp stamp, QString md5);
    // The server wants a password: the run starts over with the notes once the player gives it.
    void PasswordRequired();
    // Starts the application; Launched once it has started.
    void Launch();

signals:
    // To the Downloader, through the window.
    void RequestFile(QString dir, QString file);
    // Straight to the Downloader: what the files of the next requests must be.
    void ExpectFiles(QList<DownloadItem> files);
    // What the window shows.
    void UserMessage(QString message);
    void NotesHtml(QString html);
    void ProgressRange(int minimum, int maximum);
    void ProgressValue(int value);
    void LaunchAllowed(bool bAllowed);
    void PasswordWanted();
    void LogLine(QString message, bool bIsHeavy);
    void Launched();

private:
    friend class tst_Updater;
    friend class tst_UpdaterDocuments;

    // What the run has asked the Downloader for, and so what its next FileDownloaded answers. A
    // file of the application may well be named like one of the documents.
    enum class Awaiting {
        Nothing,
        ReleaseNotes,
        ReleaseNotesSignature,
        Manifest,
        ManifestSignature,
        QueuedFile
    };

    // Applies what a release-notes document says; bOldNotes for the previous run's copy.
    void ReadReleaseNotes(QDomNode node, bool bOldNotes);
    // One verification pass over the manifest below node, in folder: what is missing or different.
    // Runs on the thread pool and writes nothing of the run; Stage3 applies what it found. It reads
    // notUpdatedFiles, which only Stage1 writes, and no Stage1 runs during a pass: the run asks for
    // nothing then, and ignores any answer that it did not ask for. The record of verified digests
    // spares it reading the files that have not changed since they were last read or written.
    ManifestCheck CheckFolder(QDomNode node, QString folder);
    // Starts CheckFolder over manifestDocument (which must exist and stay unchanged until the pass
    // ends) on the global thread pool, and keeps it in verificationPass so that the destructor can
    // stop it. Every pass starts this way, after the previous one has been stopped.
    QFuture<ManifestCheck> StartVerificationPass();
    // Cancels the running pass, if any, and waits for it: within one chunk of one file.
    void StopVerificationPass();
    // Why the release document at path cannot be used (read, parsed and, with a key, signed). The
    // bytes whose signature held go to signedContent, if given.
    [[nodiscard]] std::optional<QString> ReleaseDocumentProblem(
        const QString &path, QDomDocument *document, QByteArray *signedContent = nullptr) const;
    // With a key: why the signed notes do not name a release that may be installed now (one below
    // the installed release, or expired). Keeps the statement for the manifest and the floor.
    [[nodiscard]] std::optional<QString> ReleaseStatementProblem(const QDomDocument &notes);
    // Logs what the pass skipped or could not read; false if the run cannot go on.
    bool ReportCheck(const ManifestCheck &check);
    // Asks for one of the documents (or a signature) at the top of the release. A copy from earlier
    // in this run must not stand in for an answer that fails, so it goes first.
    void RequestDocument(const QString &document, Awaiting answer);
    // Requests queued files, in order, until as many are in flight as the settings allow. The
    // Downloader names a finished file by its bare name only, so no two in flight share one.
    void DownloadQueuedFiles();
    // Runs the prerequisites installer once per installation and offers the launch.
    void FinishRun();
    // Ends a run whose files never matched: nothing more is fetched and launching stays disabled.
    void GiveUp();
    // Ends a run that cannot trust what the server said: nothing is fetched or installed. An
    // installation that a run has completed before can still be launched as it is.
    void FailOnDocument(const QString &document, const QString &reason);
    void ShowFullBar();
    void SetProgressValue(qint64 bytes);

    const UpdaterConfig::RunSettings settings;
    // With a key, both documents count only with their signature by it (32 bytes: a key of another
    // length makes every signature fail rather than none be asked for).
    const bool bSignedRelease;
    const QByteArray releaseKey;
    // What the signed notes say of their release: its number, its manifest, its expiry.
    std::optional<ReleaseStatement> releaseStatement;
    Awaiting awaiting = Awaiting::ReleaseNotes; // the Downloader asks for the notes as it starts
    bool bUpdateInProgress = false;
    qint64 downloadedBytes = 0;
    qint64 bytesToDownload = 0;
    QDate previousReleaseDate;
    QDate latestReleaseDate;
    QString previousVersion;
    QString latestVersion;
    std::unique_ptr<QDomDocument> manifestDocument;
    QList<DownloadItem> inFlight;  // requested and not yet answered; one at most with one transfer
    QStringList notUpdatedFiles;
    QList<DownloadItem> downloadQueue;
    // The running verification pass reads the manifest and the files. The destructor cancels it
    // through verificationControl and waits for it before any member dies.
    HashControl verificationControl;
    QFuture<ManifestCheck> verificationPass;
    // Child of the run; hands the pass's result to Stage3.
    QFutureWatcher<ManifestCheck> *passWatcher = nullptr;
    // The digests of the files that the Downloader has put in place since the last pass began. That
    // pass took them over into passCommittedDigests, which no one writes while it runs.
    DigestRecord committedDigests;
    DigestRecord passCommittedDigests;
    // Download passes since the run began (at start, or after a password): a file whose download
    // never matches its digest must not keep the updater fetching for ever.
    int downloadPasses = 0;
    // Byte counts are divided by this before they reach the progress bar, whose range is an int.
    qint64 progressDivisor = 1;
};

#endif // UPDATERUN_H
