#ifndef TESTHTTPSERVER_H
#define TESTHTTPSERVER_H

#include "downloader/network/updateserver.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QSet>
#include <QSslConfiguration>
#include <QString>
#include <QTcpServer>
#include <QUrl>

class QTcpSocket;

namespace TestSupport {

// Accepts connections in plain TCP, or in TLS once it has a certificate.
class TlsCapableServer : public QTcpServer
{
public:
    QSslConfiguration tls; // null for plain TCP

protected:
    void incomingConnection(qintptr descriptor) override;
};

// A small HTTP/1.1 server on 127.0.0.1 for the Downloader's tests. It serves the files of a folder
// below "/qor_app/" with an ETag (the MD5 of the file) and answers ranges, keeps connections alive,
// can misbehave on chosen paths, and records every request it receives so that a test can assert on
// what went over the wire.
class TestHttpServer : public QObject
{
    Q_OBJECT

public:
    enum class Fault {
        None,         // the file as it is
        NotFound,    // 404 with a small error page
        ServerError, // 500 with a small error page
        Redirect,     // 302 to the same file below "/mirror/", with a small page
        RedirectLoop, // 302 to the very same path
        CutShort,     // the full Content-Length, half of the body, then the connection closes
        Stall,        // the headers and half of the body, then silence with the connection open
        Slow,         // the whole file in 4 KiB pieces, one every 10 ms
        Endless,      // no Content-Length, and the file over and over until the client leaves
        Trickle,      // the headers, then one byte every 10 ms
        Silent,       // the request is read and never answered
        Hangup,       // the request is read, then the connection closes without an answer
        Gzip,         // the file gzip-encoded, whatever the request asked for
        GzipBomb,     // a hundred times the file's size of zeros, gzip-encoded
        Deflate,      // the file deflate-encoded, in a zlib stream
        Brotli,       // the file, said to be in an encoding that the client did not ask for
        Garbled,      // the file, or the range of it asked for, with its first byte changed
        RedirectToHttp, // 302 to the same file below "/mirror/" of this server in plain HTTP
    };
    Q_ENUM(Fault)

    // How the server answers "Range: bytes=N-" or "bytes=N-M" (with an If-Range that is the file's
    // ETag, or none).
    enum class Ranges {
        Honoured,    // 206 with the rest of the file from byte N, or up to byte M
        Ignored,     // 200 with the whole file
        WrongStart,  // 206 with the whole file, said to start at byte 0
        Garbled,     // 206 with the range asked for, its first byte changed
        Short,       // 206 with the first half of the range asked for, said to be that half
        Hung,        // never answered; requests without a range are
        Trickled,    // 206 with the range asked for, one byte every 10 ms
    };
    Q_ENUM(Ranges)

    struct Request
    {
        QByteArray method;
        QByteArray target; // as sent, percent-encoding included
        QByteArray version;
        QList<QPair<QByteArray, QByteArray>> headers;

        QByteArray header(const QByteArray &name) const; // case-insensitive; empty when absent
    };

    // Serves the files below `root`; listens at once on a free port of 127.0.0.1.
    explicit TestHttpServer(const QString &root, QObject *parent = nullptr);

    bool isListening() const;
    // Speaks TLS from now on, with the certificate `name` of the tests' own (TEST_CERTIFICATES/
    // name.pem: localhost, other-host, expired or untrusted).
    void useCertificate(const QString &name);
    // Scheme, host and port, no path; "localhost" over TLS, whose certificate names it.
    QUrl url() const;
    // What the Downloader takes: the url, with the tests' CA trusted besides the system's.
    UpdateServer updateServer() const;

    // `path` is relative to "/qor_app/", decoded ("App/a b.txt"). The next `times` requests for it
    // get the fault, later ones the file; a negative count means every request.
    void setFault(const QString &path, Fault fault, int times = -1);
    void setRanges(const QString &path, Ranges ranges);
    // Requests for `path` without these Basic credentials get 401 with a Basic challenge.
    void requireBasicAuth(const QString &path, const QByteArray &user, const QByteArray &password);
    // Acts as a proxy (taking requests for any host) that answers 407 without this Basic login.
    void requireProxyLogin(const QByteArray &user, const QByteArray &password);

    QList<Request> requests() const;
    int requestCount(const QByteArray &target) const;
    // Connections that are still open. Once a client has closed all of its own, every request that
    // it sent has been received: none can arrive later, in the middle of a test's next step.
    int openConnections() const;
    // Ends every open connection at once, as a server does with those idle too long for it.
    void abortConnections();

signals:
    void requestReceived(const QByteArray &target);

private:
    struct FaultRule
    {
        Fault fault;
        int times;
    };

    void acceptConnections();
    void readRequests(QTcpSocket *socket);
    // Returns false when the connection must not carry further requests.
    bool answer(QTcpSocket *socket, const Request &request);
    // Writes body in pieces of piece bytes, one every interval ms; repeat sends it over and over.
    void sendInPieces(QTcpSocket *socket, const QByteArray &body, int piece, int interval,
                      bool bRepeat = false);

    QString root;
    TlsCapableServer server;
    QList<Request> received;
    QHash<QString, FaultRule> faults;
    QHash<QString, Ranges> rangeAnswers;
    QHash<QString, QByteArray> credentials; // path -> "user:password"
    QByteArray proxyLogin;                  // "user:password"
    QHash<QTcpSocket *, QByteArray> pending; // bytes received and not yet parsed, per connection
    QSet<QTcpSocket *> open;
};

} // namespace TestSupport

#endif // TESTHTTPSERVER_H
