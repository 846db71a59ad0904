#ifndef TRANSFER_H
#define TRANSFER_H

#include "downloader/resumerecord.h"
#include "downloader/stagedfile.h"
#include "updaterconfig.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFutureWatcher>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <optional>
#include <utility>

class QNetworkReply;
class QNetworkRequest;

// What a transfer must bring to be put in place. What is left out is not checked.
struct TransferExpectation
{
    qint64 size = -1;   // bytes, or -1
    QString md5;        // lower-case hexadecimal, or empty
    qint64 limit = -1;  // the most bytes taken before the transfer is stopped, or -1 for no bound
};

// One requested file, from its first request to its end: the attempts that fetch it (the first, and
// one after each stall or cut, which resumes from the first byte it lacks where the server allows),
// its staging file, its stall watch, and the checks that decide whether what arrived may be put in
// place. The Downloader sends its requests and hands it its reply's events.
class Transfer : public QObject
{
    Q_OBJECT

public:
    // What one read of the reply did.
    struct ReadResult
    {
        qint64 written = 0;              // bytes added to the staging file
        std::optional<QString> problem;  // why the transfer must end now, for the log
        bool bTrickle = false;           // so little arrived for so long that it counts as a stall
        bool bRestart = false;           // the answer is of no use: request the whole file anew
    };

    Transfer(const QString &dir, const QString &file, const TransferExpectation &expected,
             const UpdaterConfig::RunSettings &settings, int slot);
    ~Transfer() override;

    QString dir() const { return folder; }
    QString file() const { return name; }
    QString path() const { return folder + name; }
    int slot() const { return stagingSlot; }
    QNetworkReply *reply() const { return currentReply; }
    StagedFile &stagedFile() { return staged; }

    // Why the staging file cannot be written, if it cannot.
    [[nodiscard]] std::optional<QString> OpenProblem();
    // Takes up what an earlier transfer of the same file staged, whose server said validator of it.
    // ReadyToRequest follows once its bytes are digested again; whatever cannot be taken up is
    // dropped, and the transfer starts from the first byte.
    void Resume(const QByteArray &validator);
    // The request of the next attempt: from the first byte that the transfer lacks, where it may.
    void PrepareRequest(QNetworkRequest *request);
    // Starts an attempt with its reply, which came from a request for url.
    void Attach(QNetworkReply *reply, const QUrl &url);
    // Lets go of the current reply: it says nothing more and is aborted and deleted later.
    void DropReply();
    // Takes what the reply holds once there is enough of it, or all of it with bWhole (at its end).
    [[nodiscard]] ReadResult ReadAvailable(bool bWhole = false);
    // Whether the reply's body was being staged: an answer with the file, not an error page.
    bool BodyIsKept() const { return bBodyKept; }
    // Whether the server has answered this attempt with a status.
    bool IsAnswered() const { return bAnswered; }
    // Notes a redirect of the current reply, which Qt follows up to the limit.
    void NoteRedirect(const QUrl &target);
    // Why the redirects of an attempt that ran out of them led nowhere, for the log.
    QString RedirectsProblem() const;
    // The server asked for a password: the transfer waits for its end, which announces nothing.
    void AwaitPassword();
    // The bytes staged since the last call. What a transfer staged after its last report is never
    // reported: a report that came after the run had moved on would overwrite what it shows.
    qint64 TakeUnreportedBytes() { return std::exchange(unreportedBytes, 0); }
    // Ends an attempt that stalled or was cut off: whether another one may follow.
    bool NextAttempt();
    // Why a complete answer must not be put in place: its size or digest is not the expected one.
    [[nodiscard]] std::optional<QString> ContentProblem();
    // Whether the next start could resume what is staged: a file of the manifest whose record is
    // written. KeepForNextStart then leaves both behind when the transfer goes.
    bool IsResumable() const;
    void KeepForNextStart();
    // What the record beside the staging file says.
    ResumeRecord Record() const;

    // Set when the stall watch has fired; the Downloader's Reconnect handles it.
    bool bStalled = false;
    bool bAwaitingPassword = false;
    // The password has been presented for this attempt; a second challenge means it was wrong.
    bool bChallengeAnswered = false;

signals:
    void Stalled();
    void ReadyToRequest();

private:
    void WatchForStall();
    // Looks at the status and headers of an attempt's answer, before its body.
    [[nodiscard]] ReadResult CheckAnswer();
    void TakeValidator();
    void WriteRecord();

    QString folder;
    QString name;
    TransferExpectation expected;
    const UpdaterConfig::RunSettings settings;
    int stagingSlot;
    StagedFile staged;
    QFutureWatcher<void> rereading;  // what a resumed transfer found staged, digested again
    QPointer<QNetworkReply> currentReply;
    QTimer stallTimer;            // fires once stallInterval has passed since sinceData started
    QElapsedTimer sinceData;
    // Bytes of this attempt at the start of the slow window, and when it started.
    QElapsedTimer slowWindowClock;
    qint64 slowWindowStart = 0;
    bool bAnswerChecked = false;  // the status and headers of this attempt were looked at
    bool bAnswered = false;       // and there were some
    bool bBodyKept = false;       // a 2xx answer: its body goes to the staging file
    qint64 discardedBytes = 0;    // of an error page
    qint64 requestedFrom = 0;     // the first byte that this attempt asked for
    QByteArray validator;         // the server's ETag, else its Last-Modified, of the first answer
    bool bRangesRefused = false;  // the server answered a range wrongly: ask for whole files only
    bool bRecordWritten = false;
    bool bKeptForNextStart = false;
    QSet<QUrl> visited;           // this attempt's URLs, the request's and each redirect's
    QUrl loopTarget;              // a redirect back to one of them
    qint64 unreportedBytes = 0;
    qint64 furthest = 0;          // the most bytes staged at the end of an attempt
    int attemptsWithoutProgress = 0;
};

#endif // TRANSFER_H
