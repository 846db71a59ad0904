#include "transfer.h"

#include "app/runlog.h"

#include <QFile>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>

namespace {

// The least of a body that is taken from the reply at once, before its end.
constexpr qint64 gatheredPart = 64 * 1024;

// The first byte of a 206 answer's Content-Range ("bytes 500-999/1000"), or -1 if it gives none.
qint64 RangeStart(const QByteArray &contentRange)
{
    static const QRegularExpression range(QStringLiteral("^bytes (\\d+)-\\d+/(?:\\d+|\\*)$"));
    const QRegularExpressionMatch match = range.match(QString::fromLatin1(contentRange.trimmed()));
    return match.hasMatch() ? match.captured(1).toLongLong() : -1;
}

} // namespace

Transfer::Transfer(const QString &dir, const QString &file, const TransferExpectation &expected,
                   const UpdaterConfig::RunSettings &settings, int slot)
    : folder(dir)
    , name(file)
    , expected(expected)
    , settings(settings)
    , stagingSlot(slot)
    , staged(dir + file, slot)
{
    stallTimer.setSingleShot(true);
    connect(&stallTimer, &QTimer::timeout, this, [this] {
        // Data that came meanwhile moved the watch on without the cost of restarting the timer.
        const qint64 quiet = sinceData.elapsed();
        if (quiet < this->settings.stallInterval) {
            stallTimer.start(int(this->settings.stallInterval - quiet));
            return;
        }
        bStalled = true;
        emit Stalled();
    });
    connect(&rereading, &QFutureWatcher<void>::finished, this, [this] {
        if (staged.rereadFailed()) {
            qCWarning(lcRun).noquote()
                << QStringLiteral("Cannot read what was staged for %1: fetching it whole").arg(path());
            staged.restart();
        }
        // What an earlier start staged has arrived as far as this run is concerned.
        unreportedBytes += staged.size();
        emit ReadyToRequest();
    });
}

Transfer::~Transfer()
{
    rereading.disconnect(this);
    if (!bKeptForNextStart)
        QFile::remove(StagedFile::recordPath(stagingSlot));
}

std::optional<QString> Transfer::OpenProblem()
{
    if (staged.open())
        return std::nullopt;
    return QStringLiteral("Cannot write %1 for %2: %3")
        .arg(StagedFile::stagingPath(stagingSlot), path(), staged.errorString());
}

void Transfer::Resume(const QByteArray &serverValidator)
{
    if (!staged.reopen()) {
        if (const std::optional<QString> problem = OpenProblem())
            qCWarning(lcRun).noquote() << *problem;
        emit ReadyToRequest();
        return;
    }
    validator = serverValidator;
    bRecordWritten = true;
    rereading.setFuture(staged.digested());
}

void Transfer::PrepareRequest(QNetworkRequest *request)
{
    requestedFrom = 0;
    if (staged.size() == 0)
        return;
    // Without a validator only the digest tells whether the rest belongs to the same file.
    if (bRangesRefused || (validator.isEmpty() && expected.md5.isEmpty())) {
        staged.restart();
        return;
    }
    requestedFrom = staged.size();
    request->setRawHeader("Range", "bytes=" + QByteArray::number(requestedFrom) + '-');
    if (!validator.isEmpty())
        request->setRawHeader("If-Range", validator);
    qCInfo(lcRun).noquote() << QStringLiteral("Resuming %1 from byte %2").arg(path()).arg(requestedFrom);
}

void Transfer::Attach(QNetworkReply *reply, const QUrl &url)
{
    currentReply = reply;
    bStalled = false;
    bChallengeAnswered = false;
    bAnswerChecked = false;
    bAnswered = false;
    bBodyKept = false;
    discardedBytes = 0;
    visited = {url};
    loopTarget.clear();
    slowWindowStart = 0;
    slowWindowClock.start();
    sinceData.start();
    stallTimer.start(settings.stallInterval);
}

void Transfer::DropReply()
{
    stallTimer.stop();
    if (QNetworkReply *reply = currentReply.data()) {
        currentReply = nullptr;
        reply->abort();
        reply->deleteLater();
    }
}

Transfer::ReadResult Transfer::CheckAnswer()
{
    ReadResult result;
    bAnswerChecked = true;
    const QVariant statusAttribute = currentReply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    bAnswered = statusAttribute.isValid();
    const int status = statusAttribute.toInt();
    bBodyKept = status >= 200 && status < 300;
    qint64 bodyStart = 0;
    if (requestedFrom > 0 && status == 206) {
        const qint64 start = RangeStart(currentReply->rawHeader("Content-Range"));
        if (start != requestedFrom) {
            qCWarning(lcRun).noquote()
                << QStringLiteral("%1: the server answered the range from byte %2 with %3; "
                                  "fetching it whole")
                       .arg(path())
                       .arg(requestedFrom)
                       .arg(start < 0 ? QStringLiteral("no range") : QStringLiteral("one from byte %1").arg(start));
            bRangesRefused = true;
            result.bRestart = true;
            return result;
        }
        bodyStart = start;
    } else if (requestedFrom > 0 && bBodyKept) {
        qCInfo(lcRun).noquote() << QStringLiteral("%1: the server sent the whole file again (it "
                                                  "ignores ranges, or the file changed)")
                                       .arg(path());
        staged.restart();
    }
    if (bBodyKept && bodyStart == 0) {
        TakeValidator();
        WriteRecord();
    }

    bool bAnnounced = false;
    const qint64 announced =
        currentReply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&bAnnounced);
    // Whatever would pass the bound is refused before a byte of it is written.
    if (bBodyKept && bAnnounced && expected.limit >= 0 && bodyStart + announced > expected.limit) {
        result.problem = QStringLiteral("Refused %1: the server announced %2 bytes, more than the "
                                        "%3 it may bring")
                             .arg(path())
                             .arg(bodyStart + announced)
                             .arg(expected.limit);
    }
    return result;
}

Transfer::ReadResult Transfer::ReadAvailable(bool bWhole)
{
    if (!currentReply)
        return {};
    if (!bAnswerChecked) {
        ReadResult checked = CheckAnswer();
        if (checked.problem || checked.bRestart)
            return checked;
    }

    ReadResult result;
    WatchForStall();
    const qint64 available = currentReply->bytesAvailable();
    if (slowWindowClock.elapsed() >= settings.slowWindow) {
        const qint64 arrived = staged.size() + discardedBytes + available;
        result.bTrickle = arrived - slowWindowStart < settings.slowWindowBytes;
        slowWindowStart = arrived;
        slowWindowClock.restart();
        if (result.bTrickle && !bWhole)
            return result;
    }
    // Several connections at once deliver in small pieces, and each piece taken costs a write and
    // a step of the digest: the reply gathers them up to a good size first.
    const bool bWithinLimit = expected.limit < 0 || staged.size() + available <= expected.limit;
    if (!bWhole && bBodyKept && bWithinLimit && available < gatheredPart)
        return result;

    const QByteArray data = currentReply->readAll();
    if (bBodyKept) {
        const qint64 written = staged.write(data);
        if (written != data.size()) {
            result.problem = QStringLiteral("Cannot write %1 for %2: %3")
                                 .arg(StagedFile::stagingPath(stagingSlot), path(),
                                      staged.errorString());
            return result;
        }
        result.written = written;
        unreportedBytes += written;
        if (expected.limit >= 0 && staged.size() > expected.limit) {
            result.problem = QStringLiteral("Refused %1: the server sent more than the %2 bytes it "
                                            "may bring")
                                 .arg(path())
                                 .arg(expected.limit);
        }
        return result;
    }
    // An error page is never kept, and never read without end either.
    discardedBytes += data.size();
    const qint64 bound = expected.limit >= 0 ? qMin(expected.limit, settings.documentBytes)
                                             : settings.documentBytes;
    if (discardedBytes > bound) {
        result.problem = QStringLiteral("Refused %1: the server's error page runs past %2 bytes")
                             .arg(path())
                             .arg(bound);
    }
    return result;
}

void Transfer::NoteRedirect(const QUrl &target)
{
    if (visited.contains(target) && loopTarget.isEmpty())
        loopTarget = target;
    visited.insert(target);
}

QString Transfer::RedirectsProblem() const
{
    if (!loopTarget.isEmpty()) {
        return QStringLiteral("Gave up on %1: its redirects go round in a loop, back to %2")
            .arg(path(), loopTarget.toDisplayString());
    }
    return QStringLiteral("Gave up on %1: it was redirected more than %2 times")
        .arg(path())
        .arg(settings.maximumRedirects);
}

void Transfer::AwaitPassword()
{
    bAwaitingPassword = true;
    stallTimer.stop();
}

bool Transfer::NextAttempt()
{
    // A trickle that brings a few bytes with each attempt must not keep the transfer going for ever.
    if (staged.size() >= furthest + settings.slowWindowBytes) {
        furthest = staged.size();
        attemptsWithoutProgress = 0;
    } else {
        ++attemptsWithoutProgress;
    }
    return attemptsWithoutProgress < settings.attemptsWithoutProgress;
}

std::optional<QString> Transfer::ContentProblem()
{
    const qint64 size = staged.size();
    const QString md5 = staged.md5();
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

bool Transfer::IsResumable() const
{
    return bRecordWritten && staged.size() > 0;
}

ResumeRecord Transfer::Record() const
{
    return {path(), expected.size, expected.md5, validator};
}

void Transfer::KeepForNextStart()
{
    bKeptForNextStart = true;
    staged.keep();
}

void Transfer::WatchForStall()
{
    sinceData.start();
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
    // Only a file of the manifest, whose digest tells whether what it resumes is whole, lives on.
    if (expected.md5.isEmpty())
        return;
    if (const std::optional<QString> problem = Record().SaveProblem(StagedFile::recordPath(stagingSlot))) {
        qCWarning(lcRun).noquote() << QStringLiteral("Cannot write %1 for %2: %3")
                                          .arg(StagedFile::recordPath(stagingSlot), path(), *problem);
        return;
    }
    bRecordWritten = true;
}
