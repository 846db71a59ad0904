#ifndef FETCH_H
#define FETCH_H

#include "downloader/fetch/bodyintake.h"
#include "downloader/fetch/fetchpolicy.h"
#include "downloader/fetch/redirecttrail.h"
#include "downloader/fetch/stallwatch.h"
#include "downloader/network/networkerrors.h"
#include "downloader/throttle/throttleseat.h"
#include "updaterconfig.h"

#include <QByteArray>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <memory>
#include <optional>

class ServerConnection;

// One GET of a file below the release, whole or a range, with its attempts: the first, one after
// each stall or cut, which asks for the rest, and one for each request that the server did not take.
// It builds each request through the ServerConnection, owns the reply of the current attempt and
// takes its events, checks the answer (its status, its range, its encoding), bounds error pages,
// watches for stalls and trickles, waits out a demand for the password, counts what arrives, and
// hands the body to its sink. It reports its end once (Finished), having let go of its reply.
//
// A stall is reported (Stalled) for the Downloader to judge the line, which then has the fetch try
// again (Retry); everything else it decides itself, by its policy.
//
// It reads its reply through the connection's RateController: what the limit or a pause holds back
// waits in the reply, which is neither a stall nor a trickle, and no request goes out while paused.
class Fetch : public QObject
{
    Q_OBJECT

public:
    Fetch(FetchPolicy policy, FetchSink *sink, ServerConnection *connection, int slot,
          const UpdaterConfig::RunSettings &settings, QObject *parent);
    ~Fetch() override;

    // The fetch that reply is the current attempt of, if any.
    static Fetch *Of(const QNetworkReply &reply);

    const FetchPolicy &Policy() const { return policy; }
    // Sends the first request.
    void Start();
    // Ends an attempt that stalled or broke off: the next one follows, unless the attempts in a row
    // have brought no new data, which ends the fetch.
    void Retry();
    // Lets go without a report. Of a whole file, what the reply holds is handed to the sink first;
    // false if that went wrong, so that what the sink holds is not to be kept.
    [[nodiscard]] bool Abandon();

    // The current attempt has brought nothing for the stall interval, or only a trickle.
    bool IsStalled() const { return attempt.bStalled; }
    // A request is out and waits for its answer.
    bool IsRequested() const { return reply && !bAwaitingPassword; }
    // The server has answered the current attempt with a status.
    bool IsAnswered() const;
    // The current attempt has no answer though the server has sent others something since it was
    // asked: a server or a proxy that drops requests in a row leaves them like this.
    bool IsPassedOver() const;
    bool IsAwaitingPassword() const { return bAwaitingPassword; }
    bool IsEnded() const { return bEnded; }
    // The bytes that arrived since the last call, for the byte reports: those handed to the sink
    // and those that wait in the reply. What arrives again (after the server ignored a range) is
    // not counted again.
    qint64 TakeUnreportedBytes();
    // The bytes handed to the sink since the last call, for the speed.
    qint64 TakeUncountedBytes() { return intake.TakeUncountedBytes(); }
    // Everything handed to the sink, and the requests sent.
    qint64 TakenBytes() const { return intake.TakenBytes(); }
    int RequestsSent() const { return requestsSent; }

signals:
    void PartWritten();
    // Bytes of a range were handed to the sink.
    void Received();
    void ErrorOccurred(QNetworkReply::NetworkError code);
    void Stalled();
    void Finished(FetchResult result);

private:
    // What belongs to one attempt, reset as each one starts.
    struct Attempt
    {
        qint64 requestedFrom = 0;     // the first byte asked for, in the file
        bool bAnswerChecked = false;  // the status and headers were looked at
        Answer answer = Answer::None;
        bool bStalled = false;
    };

    void Send();
    // The throttle has something for what it held back.
    void Refilled();
    // A limit or a pause has come: an answer over HTTP/2 would arrive whole whatever is read of it,
    // so the rest is asked for again over HTTP/1.1.
    void ThrottleChanged();
    // The reply's events.
    void ReadPart();
    void AnswerBegan();
    void NoteError(QNetworkReply::NetworkError code);
    void NoteRedirect(const QUrl &target);
    void EndAttempt();
    void ReportStall();
    // The attempt's request was not taken, and is asked again without counting as an attempt.
    bool IsAskedAgainUntaken() const;

    // How much of what the reply holds is taken: a part's worth once there is one, within the limit;
    // as much as the limit allows; or all of it, which has crossed the line already.
    enum class Take { Part, Granted, All };
    // False once the fetch has moved on: it has ended, or asks again.
    bool TakeFromReply(Take how);
    // The attempt's end if its reply has finished, which takes what the reply holds first; else
    // what it holds, as how says.
    void TakeOrEnd(Take how);
    // Looks at the status and headers of the attempt's answer, once, before its body; false as
    // above.
    bool CheckAnswer();
    bool CheckWholeFileAnswer();
    // Hands what the reply holds to the intake, bMetered as much as the limit allows; the end that
    // it makes, if any.
    [[nodiscard]] std::optional<FetchResult> TakeBody(bool bMetered);
    // The intake holds more of a decoded body, which follows after the worker's other events.
    void QueueDecode();
    void DecodeQueued();
    // The attempt is of no use: it is asked again, without counting it as an attempt.
    void RequestAgain();
    void DropReply();
    void Finish(const FetchResult &result);

    const FetchPolicy policy;
    FetchSink *const sink;
    ServerConnection *const connection;
    const int slot;
    const UpdaterConfig::RunSettings settings;
    ThrottleSeat throttle;
    QPointer<QNetworkReply> reply;
    Attempt attempt;
    BodyIntake intake;
    RedirectTrail redirects;
    StallWatch watch;
    QByteArray validator;         // of the first answer, for If-Range
    bool bRangesRefused = false;  // the server answered a range wrongly: ask for the whole file
    bool bAwaitingPassword = false;
    bool bEnded = false;
    qint64 arrivedBytes = 0;      // the most bytes that the sink and the reply held at once
    qint64 reportedBytes = 0;
    qint64 furthest = 0;          // the most bytes held at the end of an attempt
    int attemptsWithoutProgress = 0;
    int shortAnswers = 0;         // of a range: answers that ended before it did
    int untakenInARow = 0;        // requests that the server did not take since its last answer
    int requestsSent = 0;
};

#endif // FETCH_H
