#ifndef NETWORKERRORS_H
#define NETWORKERRORS_H

#include <QNetworkReply>
#include <QString>

// The text that the user's log shows for a transfer error: a category and the code's number, or
// "授权需要密码" when the server wants a password. Empty for NoError. Any integer is accepted, since
// a newer Qt may report codes that this table does not name.
QString NetworkErrorMessage(QNetworkReply::NetworkError code);

// What a reply's status says its body is.
enum class Answer {
    None,   // no status: nothing answered yet, or the connection broke before an answer
    File,   // 2xx: the file asked for, or the part of it asked for
    Other,  // anything else: an error page
};
Answer AnswerOf(const QNetworkReply &reply);

// The first byte of a 206 answer's Content-Range ("bytes 500-999/1000"), or -1 if it gives none.
qint64 RangeStartOf(const QNetworkReply &reply);

// The connection failed, rather than the server refusing: what came of the file is worth keeping.
bool IsTransportError(QNetworkReply::NetworkError error);

// The server broke the connection before it answered a request sent in HTTP/2: it does not speak
// HTTP/2 there. A refused connection or an unknown host says nothing of that.
bool IsHttp2Refusal(const QNetworkReply &reply);

#endif // NETWORKERRORS_H
