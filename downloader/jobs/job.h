#ifndef JOB_H
#define JOB_H

#include "documents/installation/filestamp.h"
#include "downloader/fetch/fetchpolicy.h"
#include "downloader/staging/resumerecord.h"
#include "updaterconfig.h"

#include <QList>
#include <QNetworkReply>
#include <QObject>
#include <QString>

#include <optional>

class Fetch;
class ServerConnection;

// How a job ended. A job reports it once, when it has let go of its fetches and its staging file.
struct JobResult
{
    enum class Kind {
        Committed,         // the file is staged (a document: in place), as expected
        Refused,           // what arrived was not what was expected
        Failed,            // the file did not arrive
        PasswordRequired,  // the server wants a password first
        FetchWhole,        // a patch cannot be made: the file is to be fetched whole
    };

    Kind kind = Kind::Failed;
    // Refused, Failed and FetchWhole: why, for the log; none where the network error that ended
    // it said so.
    std::optional<QString> problem;
    // Committed: the stamp of the file where it was moved to (none if it could not be read) and
    // the digest of what was written.
    std::optional<FileStamp> stamp;
    QString md5;
    // Committed: the updater knows the blocks of what was made, from its block list.
    bool bBlocksKnown = false;
    // Refused: the answer may well have been another request's, on a connection with requests in
    // a row before their answers.
    bool bPipelined = false;

    static JobResult Committed(const std::optional<FileStamp> &stamp, const QString &md5,
                               bool bBlocksKnown)
    {
        return {Kind::Committed, std::nullopt, stamp, md5, bBlocksKnown, false};
    }
    static JobResult Refused(const std::optional<QString> &problem, bool bPipelined = false)
    {
        return {Kind::Refused, problem, std::nullopt, QString(), false, bPipelined};
    }
    static JobResult Failed(const std::optional<QString> &problem)
    {
        return {Kind::Failed, problem, std::nullopt, QString(), false, false};
    }
    static JobResult PasswordRequired()
    {
        return {Kind::PasswordRequired, std::nullopt, std::nullopt, QString(), false, false};
    }
    static JobResult FetchWhole(const QString &problem)
    {
        return {Kind::FetchWhole, problem, std::nullopt, QString(), false, false};
    }
};

// One file in flight, from its request to its report: it fetches the file into its staging slot
// (ConfigFiles::StagingPath) with one Fetch or several, and stages it only when it is what
// the manifest says. The Downloader owns it and hears of it through its signals, whatever its kind.
class Job : public QObject
{
    Q_OBJECT

public:
    enum class State {
        Preparing,  // taking up what an earlier start staged, or reading the old copy
        Fetching,   // its fetches run, and what they bring is written
        Ended,      // it has reported, or was let go of
    };

    Job(const QString &folder, const QString &file, int slot, ServerConnection *connection,
        const UpdaterConfig::RunSettings &settings, QObject *parent);

    QString folder() const { return dir; }
    QString file() const { return name; }
    QString path() const { return dir + name; }
    int slot() const { return stagingSlot; }
    State state() const { return currentState; }

    // Starts, with what an earlier transfer of the same file staged, if anything.
    virtual void Start(const std::optional<ResumeRecord> &leftover) = 0;
    // Lets go without a report. What the next job of the file may resume is kept on disk and
    // returned.
    [[nodiscard]] virtual std::optional<ResumeRecord> Abandon() = 0;
    // The fetches in flight, for the Downloader to judge the line by.
    QList<Fetch *> Fetches() const { return fetches; }
    bool IsAwaitingPassword() const;
    // The bytes of the file that arrived since the last call, for the byte reports, and those that
    // were written, for the speed.
    qint64 TakeUnreportedBytes();
    qint64 TakeUncountedBytes();
    // Everything that the job's fetches brought, and the requests that they sent.
    qint64 TakenBytes() const;
    int RequestsSent() const;

signals:
    void PartWritten();
    void ErrorOccurred(QNetworkReply::NetworkError code);
    void Stalled();
    // The job now expects to fetch this many bytes of the file in all, in place of its size.
    void FetchEstimated(qint64 bytes);
    void Finished(JobResult result);

protected:
    // A fetch of the job's, whose end comes to FetchEnded, and whose other signals are the job's.
    Fetch *StartFetch(FetchPolicy policy, FetchSink *sink);
    virtual void FetchEnded(Fetch *fetch, const FetchResult &result) = 0;
    // Lets go of a fetch, which says nothing more; what it counted is kept for the reports. False
    // if it was a whole file's and the bytes it had did not go to its sink soundly.
    bool DropFetch(Fetch *fetch);
    void DropFetches();
    void SetState(State state) { currentState = state; }
    // Ends the job: it has let go of everything.
    void Report(const JobResult &result);

    const UpdaterConfig::RunSettings settings;
    ServerConnection *const connection;

private:
    const QString dir;
    const QString name;
    const int stagingSlot;
    State currentState = State::Preparing;
    QList<Fetch *> fetches;  // children
    qint64 unreportedBytes = 0;  // of fetches that were let go of
    qint64 uncountedBytes = 0;
    qint64 takenBytes = 0;
    int requestsSent = 0;
};

#endif // JOB_H
