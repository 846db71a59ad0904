#include "answers.h"

#include "app/runlog.h"

#include <QNetworkReply>
#include <QNetworkRequest>

namespace {

QString RangeFound(qint64 start)
{
    return start < 0 ? QStringLiteral("no range") : QStringLiteral("one from byte %1").arg(start);
}

} // namespace

WholeFileAnswer CheckWholeFileAnswer(const QNetworkReply &reply, const QString &path,
                                     qint64 requestedFrom, qint64 limit)
{
    WholeFileAnswer answer;
    const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    BodyDecoder::Choice encoding = BodyDecoder::ForEncoding(reply.rawHeader("Content-Encoding"));
    if (encoding.problem) {
        answer.failure = QStringLiteral("Cannot read %1: %2").arg(path, *encoding.problem);
        return answer;
    }
    answer.decoder = std::move(encoding.decoder);
    qint64 bodyStart = 0;
    // The range of an encoded body counts encoded bytes, which cannot follow decoded ones.
    if (requestedFrom > 0 && status == 206 && answer.decoder) {
        qCWarning(lcRun).noquote()
            << QStringLiteral("%1: the server answered the range from byte %2 encoded; fetching "
                              "it whole")
                   .arg(path)
                   .arg(requestedFrom);
        answer.bAskWhole = true;
        return answer;
    }
    if (requestedFrom > 0 && status == 206) {
        const qint64 start = RangeStartOf(reply);
        if (start != requestedFrom) {
            qCWarning(lcRun).noquote()
                << QStringLiteral("%1: the server answered the range from byte %2 with %3; "
                                  "fetching it whole")
                       .arg(path)
                       .arg(requestedFrom)
                       .arg(RangeFound(start));
            answer.bAskWhole = true;
            return answer;
        }
        bodyStart = start;
    } else if (requestedFrom > 0) {
        qCInfo(lcRun).noquote() << QStringLiteral("%1: the server sent the whole file again (it "
                                                  "ignores ranges, or the file changed)")
                                       .arg(path);
    }
    if (bodyStart == 0) {
        answer.bFromStart = true;
        // A weak ETag may not stand in If-Range; the time of the last change may.
        const QByteArray etag = reply.rawHeader("ETag");
        answer.validator =
            etag.isEmpty() || etag.startsWith("W/") ? reply.rawHeader("Last-Modified") : etag;
    }
    bool bAnnounced = false;
    const qint64 announced =
        reply.header(QNetworkRequest::ContentLengthHeader).toLongLong(&bAnnounced);
    // Whatever would pass the bound is refused before a byte of it is written. An encoded body's
    // length is not the file's.
    if (!answer.decoder && bAnnounced && limit >= 0 && bodyStart + announced > limit) {
        answer.refusal = QStringLiteral("Refused %1: the server announced %2 bytes, more than the "
                                        "%3 it may bring")
                             .arg(path)
                             .arg(bodyStart + announced)
                             .arg(limit);
    }
    return answer;
}

std::optional<QString> RangeAnswerProblem(const QNetworkReply &reply, const QString &path,
                                          qint64 requestedFrom)
{
    const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status != 206) {
        return QStringLiteral("the server answered a range of %1 with status %2: it ignores ranges")
            .arg(path)
            .arg(status);
    }
    const QByteArray encoding = reply.rawHeader("Content-Encoding").trimmed().toLower();
    if (!encoding.isEmpty() && encoding != "identity") {
        return QStringLiteral("the server answered a range of %1 encoded (%2)")
            .arg(path, QString::fromLatin1(encoding));
    }
    const qint64 start = RangeStartOf(reply);
    if (start != requestedFrom) {
        return QStringLiteral("the server answered the range of %1 from byte %2 with %3")
            .arg(path)
            .arg(requestedFrom)
            .arg(RangeFound(start));
    }
    return std::nullopt;
}

AttemptEnd WholeFileEnd(const QNetworkReply &reply, Answer answer, bool bCutShort,
                        const QString &path, const RedirectTrail &redirects, int maximumRedirects)
{
    const QNetworkReply::NetworkError error = reply.error();
    // The connection broke while the file arrived: the next attempt asks for the rest.
    if (answer == Answer::File && IsTransportError(error))
        return {AttemptEnd::Next::Retry, {}};
    if (answer == Answer::File && error == QNetworkReply::NoError) {
        if (bCutShort) {
            return {AttemptEnd::Next::End,
                    FetchResult::Refused(
                        QStringLiteral("Refused %1: its encoded body ends before its stream")
                            .arg(path))};
        }
        // An answer given to another request of the same connection may look complete.
        return {AttemptEnd::Next::End,
                FetchResult::Complete(
                    reply.attribute(QNetworkRequest::HttpPipeliningWasUsedAttribute).toBool())};
    }
    return {AttemptEnd::Next::End,
            FetchResult::Failed(
                error == QNetworkReply::TooManyRedirectsError
                    ? std::optional<QString>(redirects.Problem(path, maximumRedirects))
                    : std::nullopt)};
}

AttemptEnd RangeEnd(const QNetworkReply &reply, Answer answer, const QString &path, qint64 held,
                    qint64 size, int *shortAnswers, int attempts)
{
    const QNetworkReply::NetworkError error = reply.error();
    std::optional<QString> unusable;
    if (answer == Answer::Other) {
        unusable = QStringLiteral("the server answered %1 with status %2")
                       .arg(path)
                       .arg(reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt());
    } else if (error != QNetworkReply::NoError && !IsTransportError(error)) {
        unusable = QStringLiteral("cannot fetch %1: %2").arg(path, NetworkErrorMessage(error));
    } else if (error != QNetworkReply::NoError) {
        return {AttemptEnd::Next::Retry, {}};
    } else if (held < size) {
        // HTTP allows a range to come back short; again and again, it is no way to make the file.
        if (++*shortAnswers < attempts)
            return {AttemptEnd::Next::AskAgain, {}};
        unusable = QStringLiteral("the server answered a range of %1 short %2 times")
                       .arg(path)
                       .arg(*shortAnswers);
    }
    if (unusable)
        return {AttemptEnd::Next::End, FetchResult::Unusable(*unusable)};
    return {AttemptEnd::Next::End, FetchResult::Complete()};
}

qint64 HeaderBytes(const QNetworkReply &reply)
{
    qint64 bytes = qstrlen("HTTP/1.1 200 OK\r\n\r\n");
    for (const QNetworkReply::RawHeaderPair &header : reply.rawHeaderPairs())
        bytes += header.first.size() + header.second.size() + qstrlen(": \r\n");
    return bytes;
}
