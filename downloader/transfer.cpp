#include "transfer.h"

#include "app/runlog.h"
#include "app/updaterfiles.h"

#include <QFile>
#include <QNetworkRequest>

#include <algorithm>

namespace {

bool IsDigest(const QString &md5)
{
    return md5.size() == 32
           && std::all_of(md5.cbegin(), md5.cend(), [](QChar c) {
                  return (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
                         || (c >= QLatin1Char('a') && c <= QLatin1Char('f'));
              });
}

TransferOutcome Refusal(const QString &problem)
{
    return {TransferOutcome::Kind::Refused, problem, std::nullopt, QString(), false};
}

TransferOutcome Failure(const std::optional<QString> &problem)
{
    return {TransferOutcome::Kind::Failed, problem, std::nullopt, QString(), false};
}

// A file smaller than this is not resumed at the next start: it arrives again in about the time that
// its record takes to write safely, and thousands of small files would each pay for one.
constexpr qint64 smallestResumedBytes = 256 * 1024;

// What an error page may always bring: a server's page for a missing file or a demand for the
// password is larger than many a small file.
constexpr qint64 errorPageBytes = 64 * 1024;

// Bytes decoded before the worker's other events run: a few bytes of an encoded body may inflate to
// gigabytes, which must not keep the window waiting for the worker when it closes.
constexpr qint64 decodedAtOnce = 8 * 1024 * 1024;

// The most bytes that the encoding of a file of limit bytes takes: deflate adds a few bytes per
// block of incompressible data, and the headers a few more.
qint64 EncodedLimit(qint64 limit)
{
    return limit + limit / 64 + 64 * 1024;
}

} // namespace

TransferExpectation ExpectationOf(const DownloadItem *listed, qint64 documentBytes)
{
    TransferExpectation expected;
    if (!listed) {
        expected.limit = documentBytes;
        return expected;
    }
    const QString md5 = listed->md5.toLower();
    if (!IsDigest(md5))
        return expected;
    expected.md5 = md5;
    if (listed->bSizeListed && listed->size >= 0)
        expected.size = expected.limit = listed->size;
    return expected;
}

Transfer::Transfer(const QString &dir, const QString &file, const TransferExpectation &expected,
                   const UpdaterConfig::RunSettings &settings, int slot, ServerActivity *server,
                   QObject *parent)
    : QObject(parent)
    , folder(dir)
    , name(file)
    , expected(expected)
    , settings(settings)
    , stagingSlot(slot)
    , server(server)
{
    staged.emplace(path(), slot, settings.partBytes);
    stallTimer.setSingleShot(true);
    slowTimer.setSingleShot(true);
    slowTimer.setInterval(settings.slowWindow);
    connect(&stallTimer, &QTimer::timeout, this, &Transfer::StallWatchFired);
    connect(&slowTimer, &QTimer::timeout, this, &Transfer::SlowWindowEnded);
    connect(&rereading, &QFutureWatcherBase::finished, this, &Transfer::RereadEnded);
}

Transfer::~Transfer()
{
    if (staged)
        Release(false);
}

void Transfer::Start(const std::optional<ResumeRecord> &leftover)
{
    if (leftover && !staged->ReopenProblem()) {
        validator = leftover->validator;
        bRecordWritten = true;
        rereading.setFuture(staged->Rereading());
        return;
    }
    if (const std::optional<QString> problem = staged->OpenProblem()) {
        Finish(Failure(QStringLiteral("Cannot write %1 for %2: %3")
                           .arg(ConfigFiles::StagingPath(stagingSlot), path(), *problem)));
        return;
    }
    emit RequestWanted();
}

void Transfer::RereadEnded()
{
    if (rereading.result()) {
        qCWarning(lcRun).noquote()
            << QStringLiteral("Cannot read what was staged for %1: fetching it whole").arg(path());
        staged->Restart();
    }
    // What an earlier start staged has arrived as far as this run is concerned.
    arrivedBytes = staged->size();
    emit RequestWanted();
}

void Transfer::PrepareRequest(QNetworkRequest *request)
{
    attempt = Attempt();
    if (staged->size() == 0)
        return;
    // Without a validator only the digest tells whether the rest belongs to the same file.
    if (bRangesRefused || (validator.isEmpty() && expected.md5.isEmpty())) {
        staged->Restart();
        return;
    }
    attempt.requestedFrom = staged->size();
    request->setRawHeader("Range", "bytes=" + QByteArray::number(attempt.requestedFrom) + '-');
    if (!validator.isEmpty())
        request->setRawHeader("If-Range", validator);
    qCInfo(lcRun).noquote()
        << QStringLiteral("Resuming %1 from byte %2").arg(path()).arg(attempt.requestedFrom);
}

void Transfer::Attach(QNetworkReply *reply)
{
    currentReply = reply;
    attempt.visited = {reply->url()};
    connect(reply, &QNetworkReply::metaDataChanged, this, &Transfer::AnswerBegan);
    connect(reply, &QNetworkReply::readyRead, this, &Transfer::ReadPart);
    connect(reply, &QNetworkReply::errorOccurred, this, &Transfer::NoteError);
    connect(reply, &QNetworkReply::redirected, this, &Transfer::NoteRedirect);
    connect(reply, &QNetworkReply::finished, this, &Transfer::EndAttempt);
    sinceData.start();
    stallTimer.start(settings.stallInterval);
    slowTimer.start();
}

void Transfer::ReadPart()
{
    sinceData.start();
    server->Note();
    TakeFromReply(false);
}

void Transfer::AnswerBegan()
{
    sinceData.start();
    server->Note();
    if (IsAnswered())
        untakenInARow = 0;
}

void Transfer::NoteError(QNetworkReply::NetworkError code)
{
    // The run starts over once the password is given: this attempt only waits for its end.
    if (code == QNetworkReply::AuthenticationRequiredError) {
        bAwaitingPassword = true;
        stallTimer.stop();
        slowTimer.stop();
    }
    // A request that is asked again at once has not failed.
    if (!IsAskedAgainUntaken())
        emit ErrorOccurred(code);
}

bool Transfer::IsAskedAgainUntaken() const
{
    return (IsUntakenRequest(*currentReply) || IsHttp2Refusal(*currentReply))
           && untakenInARow < settings.untakenRequests;
}

void Transfer::NoteRedirect(const QUrl &target)
{
    if (attempt.visited.contains(target) && attempt.loopTarget.isEmpty())
        attempt.loopTarget = target;
    attempt.visited.insert(target);
    qCInfo(lcRun).noquote()
        << QStringLiteral("Redirected %1 to %2").arg(path(), target.toDisplayString());
}

void Transfer::EndAttempt()
{
    server->Note();
    if (bAwaitingPassword) {
        Finish({TransferOutcome::Kind::PasswordRequired, std::nullopt, std::nullopt, QString(),
                false});
        return;
    }
    if (!TakeFromReply(true))
        return;
    // The attempt ends once the decoder has given all it holds.
    if (attempt.bDecodeQueued)
        return;
    const QNetworkReply::NetworkError error = currentReply->error();
    // The connection broke while the file arrived: the next attempt asks for the rest.
    if (attempt.answer == Answer::File && IsTransportError(error)) {
        Retry();
        return;
    }
    // A request that the server did not take is no attempt of the file's; nor is one that a server
    // which does not speak HTTP/2 broke off, on seeing which the Downloader turned HTTP/2 off.
    if (IsAskedAgainUntaken()) {
        ++untakenInARow;
        qCInfo(lcRun).noquote() << QStringLiteral("Asking again for %1: the server did not take "
                                                  "the request (%2)")
                                       .arg(path(), currentReply->errorString());
        RequestAgain();
        return;
    }
    if (attempt.answer == Answer::File && error == QNetworkReply::NoError) {
        if (attempt.decoder && !attempt.decoder->IsComplete()) {
            Finish(Refusal(QStringLiteral("Refused %1: its encoded body ends before its stream")
                               .arg(path())));
            return;
        }
        Commit();
        return;
    }
    Finish(Failure(error == QNetworkReply::TooManyRedirectsError ? RedirectsProblem()
                                                                  : std::optional<QString>()));
}

void Transfer::StallWatchFired()
{
    // Data that came meanwhile moved the watch on. Restarting the timer at every piece that arrives
    // instead took a fifth more of the updater's CPU time over a slow link (bench/link/run). A
    // request that waits for its answer is quiet only while the whole line is.
    const qint64 quiet =
        IsAnswered() ? sinceData.elapsed() : qMin(sinceData.elapsed(), server->QuietFor());
    if (quiet < settings.stallInterval) {
        stallTimer.start(int(settings.stallInterval - quiet));
        return;
    }
    ReportStall();
}

void Transfer::SlowWindowEnded()
{
    // A trickle would keep the transfer alive for hours: it counts as a stall. Waiting for the
    // answer is not trickling.
    const qint64 arrived =
        staged->size() + attempt.discardedBytes + currentReply->bytesAvailable();
    if (IsAnswered() && arrived - attempt.slowWindowStart < settings.slowWindowBytes) {
        ReportStall();
        return;
    }
    attempt.slowWindowStart = arrived;
    slowTimer.start();
}

void Transfer::ReportStall()
{
    // What the reply gathered before it stalled is kept for the attempt that resumes it.
    if (currentReply->bytesAvailable() > 0 && !TakeFromReply(true))
        return;
    stallTimer.stop();
    slowTimer.stop();
    attempt.bStalled = true;
    emit Stalled();
}

void Transfer::Retry()
{
    DropReply();
    // A trickle that brings a few bytes with each attempt must not keep the transfer going for ever.
    if (staged->size() >= furthest + settings.slowWindowBytes) {
        furthest = staged->size();
        attemptsWithoutProgress = 0;
    } else {
        ++attemptsWithoutProgress;
    }
    if (attemptsWithoutProgress < settings.attemptsWithoutProgress) {
        emit RequestWanted();
        return;
    }
    Finish(Failure(QStringLiteral("Gave up on %1: %2 attempts in a row brought no new data")
                       .arg(path())
                       .arg(settings.attemptsWithoutProgress)));
}

std::optional<ResumeRecord> Transfer::Abandon()
{
    // Only a file of the manifest, whose digest tells whether what it resumes is whole, lives on,
    // with what its reply gathered, unless that went too far.
    bool bResumable = bRecordWritten && staged->size() > 0;
    // An encoded body is not decoded further: a few bytes of it may take seconds.
    if (currentReply && attempt.answer == Answer::File && !attempt.decoder && TakeBody())
        bResumable = false;
    const ResumeRecord record = Record();
    Release(bResumable);
    return bResumable ? std::optional<ResumeRecord>(record) : std::nullopt;
}

bool Transfer::IsAnswered() const
{
    return currentReply && AnswerOf(*currentReply) != Answer::None;
}

bool Transfer::IsPassedOver() const
{
    return currentReply && !IsAnswered() && server->QuietFor() < sinceData.elapsed();
}

qint64 Transfer::TakeUnreportedBytes()
{
    if (staged && currentReply && attempt.answer == Answer::File && !attempt.decoder)
        arrivedBytes = qMax(arrivedBytes, staged->size() + currentReply->bytesAvailable());
    const qint64 unreported = arrivedBytes - reportedBytes;
    reportedBytes = arrivedBytes;
    return unreported;
}

bool Transfer::TakeFirstChallenge()
{
    return !std::exchange(attempt.bChallengeAnswered, true);
}

bool Transfer::TakeFromReply(bool bWhole)
{
    if (!attempt.bAnswerChecked && !CheckAnswer())
        return false;
    // Several connections at once deliver in small pieces, and each piece taken costs a write and a
    // step of the digest: the reply gathers them up to a part first.
    const qint64 available = currentReply->bytesAvailable();
    const bool bWithinLimit = expected.limit < 0 || staged->size() + available <= expected.limit;
    if (!bWhole && attempt.answer == Answer::File && !attempt.decoder && bWithinLimit
        && available < settings.partBytes)
        return true;
    if (const std::optional<TransferOutcome> end = TakeBody()) {
        Finish(*end);
        return false;
    }
    return true;
}

bool Transfer::CheckAnswer()
{
    attempt.bAnswerChecked = true;
    attempt.answer = AnswerOf(*currentReply);
    const int status = currentReply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (attempt.answer == Answer::File) {
        BodyDecoder::Choice encoding =
            BodyDecoder::ForEncoding(currentReply->rawHeader("Content-Encoding"));
        if (encoding.problem) {
            Finish(Failure(QStringLiteral("Cannot read %1: %2").arg(path(), *encoding.problem)));
            return false;
        }
        attempt.decoder = std::move(encoding.decoder);
    }
    qint64 bodyStart = 0;
    // The range of an encoded body counts encoded bytes, which cannot follow decoded ones.
    if (attempt.requestedFrom > 0 && status == 206 && attempt.decoder) {
        qCWarning(lcRun).noquote()
            << QStringLiteral("%1: the server answered the range from byte %2 encoded; fetching "
                              "it whole")
                   .arg(path())
                   .arg(attempt.requestedFrom);
        bRangesRefused = true;
        RequestAgain();
        return false;
    }
    if (attempt.requestedFrom > 0 && status == 206) {
        const qint64 start = RangeStartOf(*currentReply);
        if (start != attempt.requestedFrom) {
            qCWarning(lcRun).noquote()
                << QStringLiteral("%1: the server answered the range from byte %2 with %3; "
                                  "fetching it whole")
                       .arg(path())
                       .arg(attempt.requestedFrom)
                       .arg(start < 0 ? QStringLiteral("no range")
                                      : QStringLiteral("one from byte %1").arg(start));
            bRangesRefused = true;
            RequestAgain();
            return false;
        }
        bodyStart = start;
    } else if (attempt.requestedFrom > 0 && attempt.answer == Answer::File) {
        qCInfo(lcRun).noquote() << QStringLiteral("%1: the server sent the whole file again (it "
                                                  "ignores ranges, or the file changed)")
                                       .arg(path());
        staged->Restart();
    }
    if (attempt.answer == Answer::File && bodyStart == 0) {
        TakeValidator();
        WriteRecord();
    }

    bool bAnnounced = false;
    const qint64 announced =
        currentReply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&bAnnounced);
    // Whatever would pass the bound is refused before a byte of it is written. An encoded body's
    // length is not the file's.
    if (attempt.answer == Answer::File && !attempt.decoder && bAnnounced && expected.limit >= 0
        && bodyStart + announced > expected.limit) {
        Finish(Refusal(QStringLiteral("Refused %1: the server announced %2 bytes, more than the "
                                      "%3 it may bring")
                           .arg(path())
                           .arg(bodyStart + announced)
                           .arg(expected.limit)));
        return false;
    }
    return true;
}

std::optional<TransferOutcome> Transfer::TakeBody()
{
    // What the decoder holds goes first; the reply keeps the rest until then.
    if (attempt.bDecodeQueued)
        return std::nullopt;
    const QByteArray data = currentReply->readAll();
    if (data.isEmpty())
        return std::nullopt;
    if (attempt.answer == Answer::File)
        return attempt.decoder ? Decode(data) : Stage(data);
    // An error page is never kept, and never read without end either; but the page of a demand for
    // the password must end on its own, however small the file, for the player to be asked.
    attempt.discardedBytes += data.size();
    const qint64 bound = expected.limit < 0
                             ? settings.documentBytes
                             : qMin(qMax(expected.limit, errorPageBytes), settings.documentBytes);
    if (attempt.discardedBytes > bound)
        return Refusal(QStringLiteral("Refused %1: the server's error page runs past %2 bytes")
                           .arg(path())
                           .arg(bound));
    return std::nullopt;
}

std::optional<TransferOutcome> Transfer::Decode(const QByteArray &encoded)
{
    attempt.encodedBytes += encoded.size();
    if (expected.limit >= 0 && attempt.encodedBytes > EncodedLimit(expected.limit)) {
        return Refusal(QStringLiteral("Refused %1: the server sent more than %2 encoded bytes for "
                                      "the %3 it may bring")
                           .arg(path())
                           .arg(EncodedLimit(expected.limit))
                           .arg(expected.limit));
    }
    attempt.decoder->Feed(encoded);
    return DecodeSome();
}

std::optional<TransferOutcome> Transfer::DecodeSome()
{
    for (qint64 decoded = 0; decoded < decodedAtOnce;) {
        QByteArray piece;
        if (const std::optional<QString> problem =
                attempt.decoder->DecodeProblem(&piece, int(settings.readBufferBytes))) {
            return Refusal(QStringLiteral("Refused %1: its encoded body does not decode: %2")
                               .arg(path(), *problem));
        }
        if (piece.isEmpty())
            return std::nullopt;
        decoded += piece.size();
        if (std::optional<TransferOutcome> end = Stage(piece))
            return end;
    }
    // More may wait in the decoder: it follows once the worker's other events have run.
    attempt.bDecodeQueued = true;
    QTimer::singleShot(0, this, &Transfer::DecodeQueued);
    return std::nullopt;
}

void Transfer::DecodeQueued()
{
    if (!currentReply || !attempt.bDecodeQueued)
        return;
    attempt.bDecodeQueued = false;
    // Decoding is the answer moving on, though the reply brings nothing meanwhile.
    sinceData.start();
    if (const std::optional<TransferOutcome> end = DecodeSome()) {
        Finish(*end);
        return;
    }
    if (attempt.bDecodeQueued)
        return;
    // The decoder has given all it held: what the reply holds comes next, and its end if that came.
    if (currentReply->isFinished())
        EndAttempt();
    else
        TakeFromReply(false);
}

std::optional<TransferOutcome> Transfer::Stage(const QByteArray &data)
{
    if (const std::optional<QString> problem = staged->WriteProblem(data)) {
        return Failure(QStringLiteral("Cannot write %1 for %2: %3")
                           .arg(ConfigFiles::StagingPath(stagingSlot), path(), *problem));
    }
    arrivedBytes = qMax(arrivedBytes, staged->size());
    uncountedBytes += data.size();
    emit PartWritten();
    if (expected.limit >= 0 && staged->size() > expected.limit) {
        return Refusal(QStringLiteral("Refused %1: the server sent more than the %2 bytes it may "
                                      "bring")
                           .arg(path())
                           .arg(expected.limit));
    }
    return std::nullopt;
}

std::optional<QString> Transfer::ContentProblem()
{
    const qint64 size = staged->size();
    const QString md5 = staged->md5();
    const bool bSizeWrong = expected.size >= 0 && size != expected.size;
    const bool bDigestWrong = !expected.md5.isEmpty() && md5 != expected.md5;
    if (!bSizeWrong && !bDigestWrong)
        return std::nullopt;
    QStringList wanted;
    if (expected.size >= 0)
        wanted << QStringLiteral("%1 bytes").arg(expected.size);
    if (!expected.md5.isEmpty())
        wanted << QStringLiteral("MD5 %1").arg(expected.md5);
    return QStringLiteral("Refused %1: expected %2, received %3 bytes with MD5 %4")
        .arg(path(), wanted.join(QStringLiteral(" with ")))
        .arg(size)
        .arg(md5);
}

void Transfer::Commit()
{
    if (const std::optional<QString> problem = ContentProblem()) {
        TransferOutcome refused = Refusal(*problem);
        // An answer given to another request of the same connection would look like this.
        refused.bPipelined =
            currentReply->attribute(QNetworkRequest::HttpPipeliningWasUsedAttribute).toBool();
        Finish(refused);
        return;
    }
    if (const std::optional<QString> problem = staged->CommitProblem()) {
        Finish(Failure(QStringLiteral("Cannot replace %1: %2").arg(path(), *problem)));
        return;
    }
    // Without a stamp the next verification pass reads the file, as it would any other.
    Finish({TransferOutcome::Kind::Committed, std::nullopt, ReadFileStamp(path()), staged->md5(),
            false});
}

void Transfer::RequestAgain()
{
    DropReply();
    emit RequestWanted();
}

void Transfer::DropReply()
{
    stallTimer.stop();
    slowTimer.stop();
    if (QNetworkReply *reply = currentReply.data()) {
        currentReply = nullptr;
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
}

void Transfer::Release(bool bKeep)
{
    DropReply();
    rereading.disconnect(this);
    if (bKeep)
        staged->Keep();
    staged.reset();
    if (!bKeep)
        QFile::remove(ConfigFiles::ResumeRecordPath(stagingSlot));
}

void Transfer::Finish(const TransferOutcome &outcome)
{
    Release(false);
    emit Finished(outcome);
}

QString Transfer::RedirectsProblem() const
{
    if (!attempt.loopTarget.isEmpty()) {
        return QStringLiteral("Gave up on %1: its redirects go round in a loop, back to %2")
            .arg(path(), attempt.loopTarget.toDisplayString());
    }
    return QStringLiteral("Gave up on %1: it was redirected more than %2 times")
        .arg(path())
        .arg(settings.maximumRedirects);
}

void Transfer::TakeValidator()
{
    // A weak ETag may not stand in If-Range; the time of the last change may.
    const QByteArray etag = currentReply->rawHeader("ETag");
    validator = etag.isEmpty() || etag.startsWith("W/") ? currentReply->rawHeader("Last-Modified")
                                                        : etag;
}

void Transfer::WriteRecord()
{
    // Only a file of the manifest, whose digest tells whether what it resumes is whole, lives on;
    // a small one is fetched again whole.
    if (expected.md5.isEmpty() || (expected.size >= 0 && expected.size < smallestResumedBytes))
        return;
    const QString recordPath = ConfigFiles::ResumeRecordPath(stagingSlot);
    if (const std::optional<QString> problem = Record().SaveProblem(recordPath)) {
        qCWarning(lcRun).noquote()
            << QStringLiteral("Cannot write %1 for %2: %3").arg(recordPath, path(), *problem);
        return;
    }
    bRecordWritten = true;
}

ResumeRecord Transfer::Record() const
{
    return {path(), expected.size, expected.md5, validator};
}
