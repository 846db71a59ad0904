#ifndef TRANSFER_H
#define TRANSFER_H

#include "documents/installation/downloaditem.h"
#include "documents/installation/filestamp.h"
#include "downloader/bodydecoder.h"
#include "downloader/networkerrors.h"
#include "downloader/resumerecord.h"
#include "downloader/serveractivity.h"
#include "downloader/stagedfile.h"
#include "updaterconfig.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFutureWatcher>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <memory>
#include <optional>
#include <utility>

class QNetworkRequest;

// What a transfer must bring to be put in place. What is left out is not checked.
struct TransferExpectation
{
    qint64 size = -1;   // bytes, or -1
    QString md5;        // lower-case hexadecimal, or empty
    qint64 limit = -1;  // the most bytes taken before the transfer is stopped, or -1 for no bound
};

// What a file that the manifest lists must be: its size and digest where the manifest gives a
// digest; a file without one is taken as it comes, since nothing would vouch for a size alone.
// Without a listing (listed is null) the request is for a document, bounded by the largest one.
TransferExpectation ExpectationOf(const DownloadItem *listed, qint64 documentBytes);

// How a transfer ended. A transfer reports it once, when it has let go of its reply and its
// staging file.
struct TransferOutcome
{
    enum class Kind {
        Committed,         // the file is in place, as expected
        Refused,           // what arrived was not what was expected
        Failed,            // the file did not arrive
        PasswordRequired,  // the server wants a password first
        FetchWhole,        // a patch cannot be made: the file is to be fetched whole
    };

    Kind kind = Kind::Failed;
    // Refused and Failed: why, for the log; none where the network error that ended it said so.
    std::optional<QString> problem;
    // Committed: the file's stamp as it was put in place (none if it could not be read) and the
    // digest of what was written.
    std::optional<FileStamp> stamp;
    QString md5;
    // Refused: the answer came on a connection with requests in a row before their answers, so it
    // may well have been another request's.
    bool bPipelined = false;
};

// One requested file, from its first request to its report: the attempts that fetch it (the first,
// and one after each stall or cut, which resumes from the first byte that it lacks where the server
// allows), the reply of the current attempt and its events, the staging file, the stall and
// trickle watch, and the checks that decide whether what arrived may be put in place.
//
// Its Downloader makes the requests that it asks for (RequestWanted), answers its stalls
// (Stalled) and reports its network errors to the window; the transfer reports its end once
// (Finished). What the server sends to any transfer is noted in the server's activity, which the
// Downloader shares among them: a request that waits its turn is not stalled while the line is busy.
class Transfer : public QObject
{
    Q_OBJECT

public:
    Transfer(const QString &dir, const QString &file, const TransferExpectation &expected,
             const UpdaterConfig::RunSettings &settings, int slot, ServerActivity *server,
             QObject *parent);
    ~Transfer() override;

    QString file() const { return name; }
    QString path() const { return folder + name; }
    int slot() const { return stagingSlot; }

    // Starts from the first byte, or with what an earlier transfer of the same file staged, which
    // is digested again before the first request. If that cannot be taken up, the transfer starts
    // from the first byte after all.
    void Start(const std::optional<ResumeRecord> &leftover);
    // Starts the next attempt with its request: from the first byte that the transfer lacks, where
    // it may.
    void PrepareRequest(QNetworkRequest *request);
    // Gives the attempt its reply, whose events the transfer takes from now on.
    void Attach(QNetworkReply *reply);
    // Ends an attempt that stalled or broke off: the next one follows, unless the attempts in a
    // row have brought no new data, which fails the transfer.
    void Retry();
    // Lets go without a report. What the next transfer of the file may resume is kept on disk and
    // returned: it needs a file of the manifest whose record was written.
    [[nodiscard]] std::optional<ResumeRecord> Abandon();

    // The current attempt has brought nothing for the stall interval, or only a trickle.
    bool IsStalled() const { return attempt.bStalled; }
    // A request is out and waits for its answer.
    bool IsRequested() const { return currentReply && !bAwaitingPassword; }
    // The server has answered the current attempt with a status.
    bool IsAnswered() const;
    // The current attempt has no answer though the server has sent others something since it was
    // asked: a server or a proxy that drops requests in a row leaves them like this.
    bool IsPassedOver() const;
    bool IsAwaitingPassword() const { return bAwaitingPassword; }
    // Whether reply is the current attempt's: one that the transfer let go of is not.
    bool Owns(const QNetworkReply *reply) const { return reply && currentReply == reply; }
    // Whether this is the first demand for the password in this attempt: it is presented then, and
    // a second demand means that it was wrong.
    [[nodiscard]] bool TakeFirstChallenge();
    // The bytes of the file that arrived since the last call, for the byte reports: those staged and
    // those that wait in the reply for a part's worth. A part of the file that arrives again (after
    // the server ignored a range) is not counted again, so what a file reports adds up to its size.
    qint64 TakeUnreportedBytes();
    // The bytes staged since the last call, for the speed.
    qint64 TakeUncountedBytes() { return std::exchange(uncountedBytes, 0); }

signals:
    void RequestWanted();
    void PartWritten();
    void ErrorOccurred(QNetworkReply::NetworkError code);
    void Stalled();
    void Finished(TransferOutcome outcome);

private:
    // What belongs to one attempt, reset as each one starts.
    struct Attempt
    {
        qint64 requestedFrom = 0;     // the first byte asked for
        bool bAnswerChecked = false;  // the status and headers were looked at
        Answer answer = Answer::None;
        std::unique_ptr<BodyDecoder> decoder;  // for a file that the server sent encoded
        bool bDecodeQueued = false;  // the decoder holds more, which it gives after other events
        qint64 encodedBytes = 0;
        qint64 discardedBytes = 0;    // of an error page
        qint64 slowWindowStart = 0;   // bytes arrived when the current slow window began
        bool bStalled = false;
        bool bChallengeAnswered = false;
        QSet<QUrl> visited;           // the request's URL and each redirect's
        QUrl loopTarget;              // a redirect back to one of them
    };

    // The reply's events.
    void ReadPart();
    void AnswerBegan();
    void NoteError(QNetworkReply::NetworkError code);
    void NoteRedirect(const QUrl &target);
    void EndAttempt();
    // The attempt's request was not taken, and is asked again without counting as an attempt.
    bool IsAskedAgainUntaken() const;
    // The stall watch: nothing for stallInterval, or less than slowWindowBytes in a slow window.
    void StallWatchFired();
    void SlowWindowEnded();
    void ReportStall();
    void RereadEnded();

    // Takes what the reply holds: all of it with bWhole, else once there is a part's worth. False
    // once the transfer has moved on: it has ended, or asks for the file again.
    bool TakeFromReply(bool bWhole);
    // Looks at the status and headers of the attempt's answer, once, before its body; false as
    // above.
    bool CheckAnswer();
    // Stages what the reply holds, decoded where it is encoded, or counts it as an error page; the
    // end that it makes, if any.
    [[nodiscard]] std::optional<TransferOutcome> TakeBody();
    [[nodiscard]] std::optional<TransferOutcome> Decode(const QByteArray &encoded);
    // Stages what the decoder gives, a slice at a time.
    [[nodiscard]] std::optional<TransferOutcome> DecodeSome();
    void DecodeQueued();
    [[nodiscard]] std::optional<TransferOutcome> Stage(const QByteArray &data);
    // Why a complete answer must not be put in place: its size or digest is not the expected one.
    [[nodiscard]] std::optional<QString> ContentProblem();
    void Commit();
    // The attempt is of no use: the file is asked for again, without counting it as an attempt.
    void RequestAgain();
    void DropReply();
    // Lets go of everything; with bKeep what was staged and its record stay on disk.
    void Release(bool bKeep);
    void Finish(const TransferOutcome &outcome);
    QString RedirectsProblem() const;
    void TakeValidator();
    void WriteRecord();
    ResumeRecord Record() const;

    const QString folder;
    const QString name;
    const TransferExpectation expected;
    const UpdaterConfig::RunSettings settings;
    const int stagingSlot;
    ServerActivity *const server;
    std::optional<StagedFile> staged;  // until the transfer lets go of it
    QFutureWatcher<std::optional<QString>> rereading;
    QPointer<QNetworkReply> currentReply;
    Attempt attempt;
    QTimer stallTimer;            // fires once stallInterval may have passed since sinceData started
    QElapsedTimer sinceData;      // since the request, or the last piece of its answer
    QTimer slowTimer;
    QByteArray validator;         // the server's ETag, else its Last-Modified, of the first answer
    bool bRangesRefused = false;  // the server answered a range wrongly: ask for whole files only
    bool bRecordWritten = false;
    bool bAwaitingPassword = false;
    qint64 arrivedBytes = 0;      // the most bytes of the file that have arrived at once
    qint64 reportedBytes = 0;
    qint64 uncountedBytes = 0;
    qint64 furthest = 0;          // the most bytes staged at the end of an attempt
    int attemptsWithoutProgress = 0;
    int untakenInARow = 0;        // requests that the server did not take since its last answer
};

#endif // TRANSFER_H
