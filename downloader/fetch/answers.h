#ifndef ANSWERS_H
#define ANSWERS_H

#include "downloader/fetch/fetchpolicy.h"
#include "downloader/fetch/redirecttrail.h"
#include "downloader/network/bodydecoder.h"
#include "downloader/network/networkerrors.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

class QNetworkReply;

// What a file's answer decides: its status and headers, before a byte of its body is taken, and
// its end.

// A whole file, asked for from requestedFrom (0 for the first byte), of which at most limit bytes
// (-1: no bound) may arrive.
struct WholeFileAnswer
{
    std::unique_ptr<BodyDecoder> decoder;  // for a body that came encoded
    std::optional<QString> failure;        // the body cannot be read
    std::optional<QString> refusal;        // the body cannot be what was asked for
    bool bAskWhole = false;    // the range was answered wrongly: ask for the whole file instead
    bool bFromStart = false;   // the body is the file from its first byte
    QByteArray validator;      // with bFromStart: for If-Range, empty if the server gave none
};
WholeFileAnswer CheckWholeFileAnswer(const QNetworkReply &reply, const QString &path,
                                     qint64 requestedFrom, qint64 limit);

// Why the answer is not the range from requestedFrom of the file at path, which was asked for.
[[nodiscard]] std::optional<QString> RangeAnswerProblem(const QNetworkReply &reply,
                                                        const QString &path, qint64 requestedFrom);

// What the end of an attempt decides, once its reply was read and it was not asked again.
struct AttemptEnd
{
    enum class Next {
        End,       // the fetch ends with result
        Retry,     // a cut: the rest is asked for, as an attempt that may bring nothing new
        AskAgain,  // the rest is asked for at once
    };
    Next next = Next::End;
    FetchResult result;
};
// Of a whole file at path, whose answer was answer; bCutShort: its encoded body ended before its
// stream. redirects tells why it ran out of them, if it did.
AttemptEnd WholeFileEnd(const QNetworkReply &reply, Answer answer, bool bCutShort,
                        const QString &path, const RedirectTrail &redirects, int maximumRedirects);
// Of a range of the file at path that holds held of its size bytes; shortAnswers counts the
// answers that ended before the range did, of at most attempts.
AttemptEnd RangeEnd(const QNetworkReply &reply, Answer answer, const QString &path, qint64 held,
                    qint64 size, int *shortAnswers, int attempts);

// About what an answer's status line and headers took on the line, as HTTP/1.1 sends them.
qint64 HeaderBytes(const QNetworkReply &reply);

#endif // ANSWERS_H
