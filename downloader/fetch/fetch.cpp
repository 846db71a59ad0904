#include "fetch.h"

#include "app/runlog.h"
#include "downloader/fetch/answers.h"
#include "downloader/network/serverconnection.h"

#include <QNetworkRequest>
#include <QTimer>


Fetch::Fetch(FetchPolicy policy, FetchSink *sink, ServerConnection *connection, int slot,
             const UpdaterConfig::RunSettings &settings, QObject *parent)
    : QObject(parent)
    , policy(std::move(policy))
    , sink(sink)
    , connection(connection)
    , slot(slot)
    , settings(settings)
    , throttle(connection->Throttle(), [this] { Refilled(); })
    , watch(settings, connection->Activity(),
            {[this] { return IsAnswered(); },
             [this] {
                 return this->sink->HeldBytes() + intake.DiscardedBytes()
                        + (reply ? reply->bytesAvailable() : 0);
             },
             [this] { return throttle.SinceHeldBack(); }},
            this)
    , intake(this->policy, sink, int(settings.readBufferBytes), [this] { emit PartWritten(); })
    , validator(this->policy.validator)
{
    connect(&watch, &StallWatch::Stalled, this, &Fetch::ReportStall);
    connect(connection->Throttle(), &RateController::Changed, this, &Fetch::ThrottleChanged);
}

Fetch::~Fetch()
{
    DropReply();
}

Fetch *Fetch::Of(const QNetworkReply &reply)
{
    auto *fetch = qobject_cast<Fetch *>(reply.request().originatingObject());
    return fetch && fetch->reply == &reply ? fetch : nullptr;
}

void Fetch::Start()
{
    // What the sink held from before has arrived as far as this run is concerned.
    arrivedBytes = sink->HeldBytes();
    Send();
}

void Fetch::Send()
{
    if (throttle.HoldsRequest())
        return;
    attempt = Attempt();
    // Nothing of the last answer's body, nor a decode queued for it, carries over.
    intake.Begin(false, nullptr);
    QNetworkRequest request = connection->RequestFor(policy.path, this, policy.bPastCaches);
    const qint64 held = sink->HeldBytes();
    if (policy.range) {
        attempt.requestedFrom = policy.range->start + held;
        request.setRawHeader("Range", "bytes=" + QByteArray::number(attempt.requestedFrom) + '-'
                                          + QByteArray::number(policy.range->end - 1));
    } else if (held > 0) {
        // Without a validator only the digest tells whether the rest belongs to the same file.
        if (bRangesRefused || (validator.isEmpty() && !policy.bDigestVouches)) {
            sink->Restart();
        } else {
            attempt.requestedFrom = held;
            request.setRawHeader("Range", "bytes=" + QByteArray::number(held) + '-');
            if (!validator.isEmpty())
                request.setRawHeader("If-Range", validator);
            qCInfo(lcRun).noquote()
                << QStringLiteral("Resuming %1 from byte %2").arg(policy.path).arg(held);
        }
    }
    ++requestsSent;
    reply = connection->Get(request, slot);
    redirects.Start(reply->url());
    connect(reply, &QNetworkReply::metaDataChanged, this, &Fetch::AnswerBegan);
    connect(reply, &QNetworkReply::readyRead, this, &Fetch::ReadPart);
    connect(reply, &QNetworkReply::errorOccurred, this, &Fetch::NoteError);
    connect(reply, &QNetworkReply::redirected, this, &Fetch::NoteRedirect);
    connect(reply, &QNetworkReply::finished, this, &Fetch::EndAttempt);
    watch.Start();
}

void Fetch::Refilled()
{
    if (bEnded)
        return;
    if (throttle.TakeHeldRequest()) {
        Send();
        return;
    }
    // A wake that was asked for by an attempt since dropped finds nothing to take.
    if (reply && attempt.bAnswerChecked)
        TakeOrEnd(Take::Granted);
}

void Fetch::ThrottleChanged()
{
    throttle.NoteChange();
    if (!reply || bEnded || !throttle.Controller()->IsHolding() || intake.IsDecoding()
        || !reply->request().attribute(QNetworkRequest::Http2AllowedAttribute).toBool())
        return;
    if (IsAnswered() && reply->bytesAvailable() > 0 && !TakeFromReply(Take::All))
        return;
    if (reply->isFinished()) {
        EndAttempt();
        return;
    }
    qCInfo(lcRun).noquote()
        << QStringLiteral("Asking again for the rest of %1 over HTTP/1.1, which a limit or a pause "
                          "can hold back")
               .arg(policy.path);
    RequestAgain();
}

void Fetch::ReadPart()
{
    watch.NoteData();
    TakeFromReply(Take::Part);
}

void Fetch::AnswerBegan()
{
    throttle.Controller()->NoteAnswer();
    watch.NoteData();
    if (IsAnswered())
        untakenInARow = 0;
}

void Fetch::NoteError(QNetworkReply::NetworkError code)
{
    // The run starts over once the password is given: this attempt only waits for its end.
    if (code == QNetworkReply::AuthenticationRequiredError
        || code == QNetworkReply::ProxyAuthenticationRequiredError) {
        bAwaitingPassword = true;
        watch.Stop();
    }
    const QString proxyRefusal = ProxyRefusal(*reply, policy.path);
    if (!proxyRefusal.isEmpty())
        qCWarning(lcRun).noquote() << proxyRefusal;
    // A request that is asked again at once has not failed.
    if (!IsAskedAgainUntaken())
        emit ErrorOccurred(code);
}

bool Fetch::IsAskedAgainUntaken() const
{
    return (IsUntakenRequest(*reply) || IsHttp2Refusal(*reply))
           && untakenInARow < settings.untakenRequests;
}

void Fetch::NoteRedirect(const QUrl &target)
{
    redirects.Follow(target);
    qCInfo(lcRun).noquote()
        << QStringLiteral("Redirected %1 to %2").arg(policy.path, target.toDisplayString());
}

void Fetch::EndAttempt()
{
    connection->Activity()->Note();
    if (bAwaitingPassword) {
        Finish({FetchResult::Kind::PasswordRequired, std::nullopt, false});
        return;
    }
    if (!TakeFromReply(Take::Granted))
        return;
    // The attempt ends once the decoder has given all it holds, and once the limit has let all the
    // reply holds through.
    if (intake.IsDecodeQueued() || reply->bytesAvailable() > 0)
        return;
    // A request that the server did not take is no attempt; nor is one that a server which does
    // not speak HTTP/2 broke off, on seeing which the connection turned HTTP/2 off.
    if (IsAskedAgainUntaken()) {
        ++untakenInARow;
        const QString asking = policy.range
                                   ? QStringLiteral("Asking again for a range of %1: the server "
                                                    "did not take the request (%2)")
                                   : QStringLiteral("Asking again for %1: the server did not "
                                                    "take the request (%2)");
        qCInfo(lcRun).noquote() << asking.arg(policy.path, reply->errorString());
        RequestAgain();
        return;
    }
    const AttemptEnd end =
        policy.range ? RangeEnd(*reply, attempt.answer, policy.path, sink->HeldBytes(),
                                policy.range->size(), &shortAnswers, policy.attempts)
                     : WholeFileEnd(*reply, attempt.answer, intake.IsCutShort(), policy.path,
                                    redirects, settings.maximumRedirects);
    switch (end.next) {
    case AttemptEnd::Next::Retry:
        Retry();
        break;
    case AttemptEnd::Next::AskAgain:
        RequestAgain();
        break;
    case AttemptEnd::Next::End:
        Finish(end.result);
        break;
    }
}

void Fetch::ReportStall()
{
    // What the reply gathered before it stalled is kept for the attempt that resumes it.
    if (reply && reply->bytesAvailable() > 0 && !TakeFromReply(Take::All))
        return;
    watch.Stop();
    attempt.bStalled = true;
    emit Stalled();
}

void Fetch::Retry()
{
    if (bEnded)
        return;
    DropReply();
    // A trickle that brings a few bytes with each attempt must not keep the fetch going for ever.
    const qint64 held = sink->HeldBytes();
    if (held >= furthest + settings.slowWindowBytes) {
        furthest = held;
        attemptsWithoutProgress = 0;
    } else {
        ++attemptsWithoutProgress;
    }
    if (attemptsWithoutProgress < policy.attempts) {
        Send();
        return;
    }
    if (policy.range) {
        Finish(FetchResult::Unusable(
            QStringLiteral("%1 requests of its ranges in a row brought no new data")
                .arg(attemptsWithoutProgress)));
        return;
    }
    Finish(FetchResult::Failed(
        QStringLiteral("Gave up on %1: %2 attempts in a row brought no new data")
            .arg(policy.path)
            .arg(policy.attempts)));
}

bool Fetch::Abandon()
{
    bool bSound = true;
    // An encoded body is not decoded further: a few bytes of it may take seconds.
    if (!policy.range && reply && attempt.answer == Answer::File && !intake.IsDecoding()
        && TakeBody(false))
        bSound = false;
    DropReply();
    bEnded = true;
    return bSound;
}

bool Fetch::IsAnswered() const
{
    return reply && AnswerOf(*reply) != Answer::None;
}

bool Fetch::IsPassedOver() const
{
    return reply && !IsAnswered() && connection->Activity()->QuietFor() < watch.SinceData();
}

qint64 Fetch::TakeUnreportedBytes()
{
    if (reply && attempt.answer == Answer::File && !intake.IsDecoding())
        arrivedBytes = qMax(arrivedBytes, sink->HeldBytes() + reply->bytesAvailable());
    const qint64 unreported = arrivedBytes - reportedBytes;
    reportedBytes = arrivedBytes;
    return unreported;
}

bool Fetch::TakeFromReply(Take how)
{
    if (!attempt.bAnswerChecked && !CheckAnswer())
        return false;
    // Several connections at once deliver in small pieces, and each piece taken costs a write and a
    // step of the digest: the reply gathers them up to a part first. Under a limit or a pause it
    // holds less than a part, and what it holds is taken as the limit allows.
    const qint64 available = reply->bytesAvailable();
    const bool bWithinLimit = policy.limit < 0 || sink->HeldBytes() + available <= policy.limit;
    if (how == Take::Part && !throttle.Controller()->IsHolding() && !policy.range
        && attempt.answer == Answer::File
        && !intake.IsDecoding() && bWithinLimit && available < settings.partBytes)
        return true;
    const qint64 taken = intake.TakenBytes();
    if (const std::optional<FetchResult> end = TakeBody(how != Take::All)) {
        Finish(*end);
        return false;
    }
    arrivedBytes = qMax(arrivedBytes, intake.HeldAtMost());
    if (policy.range && intake.TakenBytes() > taken)
        emit Received();
    return !bEnded;
}

bool Fetch::CheckAnswer()
{
    attempt.bAnswerChecked = true;
    attempt.answer = AnswerOf(*reply);
    throttle.Controller()->Charge(HeaderBytes(*reply));
    if (attempt.answer != Answer::File) {
        intake.Begin(false, nullptr);
        return true;
    }
    if (!policy.range)
        return CheckWholeFileAnswer();
    intake.Begin(true, nullptr);
    if (const std::optional<QString> problem =
            RangeAnswerProblem(*reply, policy.path, attempt.requestedFrom)) {
        Finish(FetchResult::Unusable(*problem));
        return false;
    }
    return true;
}

bool Fetch::CheckWholeFileAnswer()
{
    WholeFileAnswer answer =
        ::CheckWholeFileAnswer(*reply, policy.path, attempt.requestedFrom, policy.limit);
    if (answer.failure) {
        Finish(FetchResult::Failed(answer.failure));
        return false;
    }
    if (answer.bAskWhole) {
        bRangesRefused = true;
        RequestAgain();
        return false;
    }
    if (answer.bFromStart) {
        if (attempt.requestedFrom > 0)
            sink->Restart();
        validator = answer.validator;
        sink->Begins(validator);
    }
    if (answer.refusal) {
        Finish(FetchResult::Refused(*answer.refusal));
        return false;
    }
    intake.Begin(true, std::move(answer.decoder));
    return true;
}

std::optional<FetchResult> Fetch::TakeBody(bool bMetered)
{
    // What the decoder holds goes first; the reply keeps the rest until then.
    if (intake.IsDecodeQueued())
        return std::nullopt;
    const qint64 available = reply->bytesAvailable();
    const qint64 wanted = bMetered ? throttle.Grant(available) : available;
    const QByteArray data = wanted > 0 ? reply->read(wanted) : QByteArray();
    if (data.isEmpty())
        return std::nullopt;
    std::optional<FetchResult> end = intake.Take(data);
    if (!end && intake.IsDecodeQueued())
        QueueDecode();
    return end;
}

void Fetch::QueueDecode()
{
    QTimer::singleShot(0, this, &Fetch::DecodeQueued);
}

void Fetch::DecodeQueued()
{
    if (!reply || !intake.IsDecodeQueued())
        return;
    watch.NoteProgress();
    if (const std::optional<FetchResult> end = intake.DecodeQueued()) {
        Finish(*end);
        return;
    }
    arrivedBytes = qMax(arrivedBytes, intake.HeldAtMost());
    if (intake.IsDecodeQueued()) {
        QueueDecode();
        return;
    }
    // The decoder has given all it held: what the reply holds comes next.
    TakeOrEnd(Take::Part);
}

void Fetch::TakeOrEnd(Take how)
{
    if (reply->isFinished())
        EndAttempt();
    else
        TakeFromReply(how);
}

void Fetch::RequestAgain()
{
    DropReply();
    Send();
}

void Fetch::DropReply()
{
    watch.Stop();
    if (QNetworkReply *current = reply.data()) {
        reply = nullptr;
        current->disconnect(this);
        current->abort();
        current->deleteLater();
    }
}

void Fetch::Finish(const FetchResult &result)
{
    DropReply();
    bEnded = true;
    emit Finished(result);
}
