#ifndef UPDATERUN_H
#define UPDATERUN_H

#include "documents/installation/downloaditem.h"
#include "documents/installation/filestamp.h"
#include "documents/installation/manifestcheck.h"
#include "documents/installation/verificationpass.h"
#include "documents/release/releasetrust.h"
#include "updater/downloadtally.h"
#include "updater/releaseswitch.h"
#include "updater/runstep.h"
#include "updaterconfig.h"

#include <QDate>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

class Downloader;
class QDomNode;

// What a run keeps of the release notes: the new ones, and the previous run's copy.
struct NotesState
{
    QString previousVersion;  // the installed release's version, which leads every status text
    QString latestVersion;
    QDate previousReleaseDate;
    QDate latestReleaseDate;
    QStringList notUpdatedFiles;  // names of files never read: the player may keep them edited
    bool bUpdateInProgress = false;  // the server is being updated: nothing is fetched
};

// One update run, from the release notes to the launch, without a widget. It asks the Downloader for
// the documents and the files, has the installation checked between the downloads, and says what
// the window shows. It lives on the window's thread; ConnectTo wires it to its Downloader.
class UpdateRun : public QObject
{
    Q_OBJECT

public:
    // With a publicKey (base64), the documents count only with their signatures by it.
    explicit UpdateRun(const QByteArray &publicKey = QByteArray(),
                       const UpdaterConfig::RunSettings &settings = {}, QObject *parent = nullptr);

    // Wires the run to the Downloader that fetches for it (which may live on another thread): the
    // run's requests go to it, and what it reports comes back. Before the Downloader starts, which
    // asks for the release notes by itself.
    void ConnectTo(Downloader *downloader);

    const NotesState &Notes() const { return notes; }
    QString PreviousVersion() const { return notes.previousVersion; }
    // Applies what a release-notes document says; bOldNotes for the previous run's copy.
    void ReadReleaseNotes(QDomNode node, bool bOldNotes);

public slots:
    // The release notes have arrived: read them and ask for the manifest.
    void Stage1();
    // The manifest has arrived: start a verification pass over the installation.
    void Stage2();
    // The pass has ended: fetch what it found, or finish the run.
    void Stage3();
    // What the Downloader reports.
    void FileDownloaded(QString downloadedFile);
    void FileStaged(QString path, FileStamp stamp, QString md5);
    // A file in flight is patched: it costs bytes in place of its size.
    void FetchEstimated(QString path, qint64 bytes);
    void BytesDownloaded(int deltaBytes, float downloadSpeed);
    // The server wants a password: the run starts over with the notes once the player gives it.
    void PasswordRequired();
    // The same for the proxy at proxy ("host:port"), which wants a user name and a password.
    void ProxyPasswordRequired(QString proxy);
    // Starts the application; Launched once it has started.
    void Launch();
    // The player has paused the downloads, or resumed them: the status line says so.
    void SetPaused(bool bPause);
    // Has the next check read every file, ignoring the record of verified digests: at once where
    // the run has ended, else when the check comes.
    void Repair();

signals:
    // To the Downloader.
    void RequestFile(QString dir, QString file);
    // What the files of the next requests must be.
    void ExpectFiles(QList<DownloadItem> files);
    // What the window shows.
    void UserMessage(QString message);
    void NotesHtml(QString html);
    void ProgressRange(int minimum, int maximum);
    void ProgressValue(int value);
    void LaunchAllowed(bool bAllowed);
    // For the server, or for the proxy at proxy when it is not empty.
    void PasswordWanted(QString proxy);
    void LogLine(QString message, bool bIsHeavy);
    void Launched();
    // The updater's program was swapped: the previous one is kept at aside, and the new one, of
    // this digest, is to be started to finish the run.
    void RestartWanted(QString aside, QString md5);

private:
    // Moves the run on from its step once event has happened, and begins the step that follows.
    void Advance(RunEvent event);
    void DownloadQueuedFiles();
    void FileArrived(const DownloadItem &item);
    void FilesSwitched(const QVector<std::optional<FileStamp>> &stamps);
    void SwapUpdater();
    void FinishRun();
    // The ends that are not the launch: they say why, then end the run.
    void GiveUp();
    void FailOnDocument(const QString &document, const QString &reason);
    // Whether bytesToStage more fit on the disk; if not, ends the run.
    bool FitsOnDisk(qint64 bytesToStage);
    // Ends a run that left the installation as it was: it may be launched as it is if a run
    // completed it before and no switch is left half done.
    void EndUnchanged(const QString &message);

    // Asks for a document at the top of the release. A copy from earlier in this run must not stand
    // in for an answer that fails, so it goes first.
    void RequestDocument(const QString &document);
    // Logs what the pass skipped or could not read; if the run cannot go on, ends it and is false.
    bool ReportCheck(const ManifestCheck &check);
    // The file in flight at path, or inFlight's end: its bare name finds it, its folder must match.
    QHash<QString, DownloadItem>::iterator InFlightAt(const QString &path);
    // The files still to fetch, the bytes left and the speed.
    void ShowProgress();
    void ShowFullBar();

    const UpdaterConfig::RunSettings settings;
    ReleaseTrust trust;
    VerificationPass verificationPass;
    ReleaseSwitch releaseSwitch;
    NotesState notes;
    RunStep step = RunStep::Notes;
    // The files requested and not yet answered, by the bare name that the answer carries: the run
    // never has two of one name in flight.
    QHash<QString, DownloadItem> inFlight;
    QList<DownloadItem> downloadQueue;
    // The files staged for the next switch, and those of them still in flight, by path.
    QList<DownloadItem> toSwitch;
    QSet<QString> stagedInFlight;
    bool bPassStaged = false;  // every file of the download pass so far arrived as expected
    bool bUpdaterRound = false;  // the round fetches the updater's own program alone
    bool bPaused = false;
    DownloadTally tally;
    // Download passes since the run began (at start, or after a password): a file whose download
    // never matches its digest must not keep the updater fetching for ever.
    int downloadPasses = 0;
};

#endif // UPDATERUN_H
