#include "transfer.h"

#include <QNetworkReply>
#include <QNetworkRequest>

Transfer::Transfer(const QString &dir, const QString &file, const TransferExpectation &expected,
                   const UpdaterConfig::RunSettings &settings)
    : folder(dir)
    , name(file)
    , expected(expected)
    , settings(settings)
    , staged(dir + file)
{
    stallTimer.setSingleShot(true);
    connect(&stallTimer, &QTimer::timeout, this, [this] {
        bStalled = true;
        emit Stalled();
    });
}

Transfer::~Transfer() = default;

std::optional<QString> Transfer::OpenProblem()
{
    if (staged.open())
        return std::nullopt;
    return QStringLiteral("Cannot write %1 for %2: %3")
        .arg(StagedFile::stagingPath(), path(), staged.errorString());
}

void Transfer::Attach(QNetworkReply *reply, const QUrl &url)
{
    currentReply = reply;
    bStalled = false;
    bChallengeAnswered = false;
    bAnswerChecked = false;
    bBodyKept = false;
    discardedBytes = 0;
    visited = {url};
    loopTarget.clear();
    slowWindowStart = 0;
    slowWindowClock.start();
    WatchForStall();
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

Transfer::ReadResult Transfer::ReadAvailable()
{
    ReadResult result;
    if (!currentReply)
        return result;
    if (!bAnswerChecked) {
        bAnswerChecked = true;
        const int status = currentReply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        bBodyKept = status >= 200 && status < 300;
        bool bAnnounced = false;
        const qint64 announced =
            currentReply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&bAnnounced);
        // Whatever would pass the bound is refused before a byte of it is written.
        if (bBodyKept && bAnnounced && expected.limit >= 0 && announced > expected.limit) {
            result.problem = QStringLiteral("Refused %1: the server announced %2 bytes, more than "
                                            "the %3 it may bring")
                                 .arg(path())
                                 .arg(announced)
                                 .arg(expected.limit);
            return result;
        }
    }

    const QByteArray data = currentReply->readAll();
    WatchForStall();
    const qint64 arrivedBefore = staged.size() + discardedBytes;
    if (bBodyKept) {
        const qint64 written = staged.write(data);
        if (written != data.size()) {
            result.problem = QStringLiteral("Cannot write %1 for %2: %3")
                                 .arg(StagedFile::stagingPath(), path(), staged.errorString());
            return result;
        }
        result.written = written;
        unreportedBytes += written;
        if (expected.limit >= 0 && staged.size() > expected.limit) {
            result.problem = QStringLiteral("Refused %1: the server sent more than the %2 bytes it "
                                            "may bring")
                                 .arg(path())
                                 .arg(expected.limit);
            return result;
        }
    } else {
        // An error page is never kept, and never read without end either.
        discardedBytes += data.size();
        const qint64 bound = expected.limit >= 0 ? qMin(expected.limit, settings.documentBytes)
                                                 : settings.documentBytes;
        if (discardedBytes > bound) {
            result.problem = QStringLiteral("Refused %1: the server's error page runs past %2 bytes")
                                 .arg(path())
                                 .arg(bound);
            return result;
        }
    }

    if (slowWindowClock.elapsed() >= settings.slowWindow) {
        const qint64 arrived = arrivedBefore + data.size();
        result.bTrickle = arrived - slowWindowStart < settings.slowWindowBytes;
        slowWindowStart = arrived;
        slowWindowClock.restart();
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

bool Transfer::NextAttemptAfterStall()
{
    // A trickle that brings a few bytes with each attempt must not keep the transfer going for ever.
    if (staged.size() >= furthest + settings.slowWindowBytes) {
        furthest = staged.size();
        attemptsWithoutProgress = 0;
    } else {
        ++attemptsWithoutProgress;
    }
    if (attemptsWithoutProgress >= settings.attemptsWithoutProgress)
        return false;
    staged.restart();
    return true;
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

void Transfer::WatchForStall()
{
    stallTimer.start(settings.stallInterval);
}
