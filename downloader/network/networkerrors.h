#ifndef NETWORKERRORS_H
#define NETWORKERRORS_H

#include <QList>
#include <QNetworkReply>
#include <QSslError>
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
// HTTP/2 there, unless it has answered in it before. A refused connection or an unknown host says
// nothing of that.
bool IsHttp2Refusal(const QNetworkReply &reply);

// The server did not take the request: it refused its HTTP/2 stream before processing it (a GOAWAY
// that ends before the stream, REFUSED_STREAM), or closed the connection before any answer. A GET
// that was not taken is always safe to ask again.
bool IsUntakenRequest(const QNetworkReply &reply);

// "host:port" of the proxy through which a request for url goes, or empty without one.
QString ProxyFor(const QUrl &url);

// The line that blames the proxy, not the server, when the reply failed at the proxy between:
// "The proxy at proxy.school:3128 refused the request for ReleaseNotes.xml: Proxy requires
// authentication"; empty for any other failure.
QString ProxyRefusal(const QNetworkReply &reply, const QString &path);

// The line that says why a server's certificate was refused, naming each of Qt's TLS errors:
// "Refused the certificate of localhost:443: The certificate has expired".
QString CertificateRefusal(const QUrl &url, const QList<QSslError> &errors);

// The line that says how a reply over HTTPS reached its server: "Talking to localhost:443 over
// TLS 1.3 in HTTP/2". Empty for a reply that did not come over TLS, or brought no answer.
QString NegotiationLine(const QNetworkReply &reply);

#endif // NETWORKERRORS_H
