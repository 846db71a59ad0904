#include "testhttpserver.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>

#include <zlib.h>

#ifdef Q_OS_WIN
#include <winsock2.h>
#else
#include <sys/socket.h>
#endif

#include <memory>
#include <optional>

namespace TestSupport {

namespace {

const QByteArray prefix = QByteArrayLiteral("/qor_app/");
const QByteArray mirrorPrefix = QByteArrayLiteral("/mirror/");

QByteArray Head(const QByteArray &status, qint64 contentLength, const QList<QByteArray> &extra = {})
{
    QByteArray head = "HTTP/1.1 " + status + "\r\n";
    head += "Content-Length: " + QByteArray::number(contentLength) + "\r\n";
    for (const QByteArray &header : extra)
        head += header + "\r\n";
    return head + "\r\n";
}

QByteArray Page(const QByteArray &status, const QList<QByteArray> &extra = {})
{
    const QByteArray body = "<html><body>" + status + "</body></html>";
    return Head(status, body.size(), extra) + body;
}

QByteArray Gzip(const QByteArray &data)
{
    z_stream stream{};
    deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY);
    QByteArray encoded(int(deflateBound(&stream, uLong(data.size()))), Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.data()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef *>(encoded.data());
    stream.avail_out = uInt(encoded.size());
    deflate(&stream, Z_FINISH);
    encoded.resize(int(stream.total_out));
    deflateEnd(&stream);
    return encoded;
}

QByteArray ReadCertificateFile(const QString &name)
{
    QFile file(QStringLiteral(TEST_CERTIFICATES "/") + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

void TlsCapableServer::incomingConnection(qintptr descriptor)
{
    if (tls.isNull()) {
        QTcpServer::incomingConnection(descriptor);
        return;
    }
    auto *socket = new QSslSocket(this);
    socket->setSocketDescriptor(descriptor);
    socket->setSslConfiguration(tls);
    addPendingConnection(socket);
    socket->startServerEncryption();
}

QByteArray TestHttpServer::Request::header(const QByteArray &name) const
{
    for (const auto &field : headers) {
        if (field.first.compare(name, Qt::CaseInsensitive) == 0)
            return field.second;
    }
    return QByteArray();
}

TestHttpServer::TestHttpServer(const QString &root, QObject *parent)
    : QObject(parent)
    , root(root)
{
    connect(&server, &QTcpServer::newConnection, this, &TestHttpServer::acceptConnections);
    server.listen(QHostAddress::LocalHost, 0);
}

bool TestHttpServer::isListening() const
{
    return server.isListening();
}

void TestHttpServer::useCertificate(const QString &name)
{
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificate(QSslCertificate(ReadCertificateFile(name + QStringLiteral(".pem"))));
    tls.setPrivateKey(QSslKey(ReadCertificateFile(QStringLiteral("server.key")), QSsl::Ec));
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);
    server.tls = tls;
}

QUrl TestHttpServer::url() const
{
    QUrl url;
    url.setScheme(server.tls.isNull() ? QStringLiteral("http") : QStringLiteral("https"));
    url.setHost(server.tls.isNull() ? QStringLiteral("127.0.0.1") : QStringLiteral("localhost"));
    url.setPort(server.serverPort());
    return url;
}

UpdateServer TestHttpServer::updateServer() const
{
    return UpdateServer(url(), QSslCertificate::fromData(ReadCertificateFile(QStringLiteral("ca.pem"))));
}

void TestHttpServer::setFault(const QString &path, Fault fault, int times)
{
    faults.insert(path, {fault, times});
}

void TestHttpServer::setRanges(const QString &path, Ranges ranges)
{
    rangeAnswers.insert(path, ranges);
}

void TestHttpServer::requireBasicAuth(const QString &path, const QByteArray &user,
                                      const QByteArray &password)
{
    credentials.insert(path, user + ':' + password);
}

QList<TestHttpServer::Request> TestHttpServer::requests() const
{
    return received;
}

int TestHttpServer::requestCount(const QByteArray &target) const
{
    int count = 0;
    for (const Request &request : received) {
        if (request.target == target)
            ++count;
    }
    return count;
}

void TestHttpServer::requireProxyLogin(const QByteArray &user, const QByteArray &password)
{
    proxyLogin = user + ':' + password;
}

int TestHttpServer::openConnections() const
{
    return open.size();
}

void TestHttpServer::abortConnections()
{
    for (QTcpSocket *socket : QSet<QTcpSocket *>(open)) {
        // What the system still had to send goes with the connection, as on a server that gives up.
        const linger dropAtOnce{1, 0};
        setsockopt(socket->socketDescriptor(), SOL_SOCKET, SO_LINGER,
                   reinterpret_cast<const char *>(&dropAtOnce), sizeof dropAtOnce);
        socket->abort();
    }
}

void TestHttpServer::acceptConnections()
{
    while (QTcpSocket *socket = server.nextPendingConnection()) {
        socket->setParent(this);
        pending.insert(socket, QByteArray());
        open.insert(socket);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readRequests(socket); });
        // What the peer sent before it closed is read before its end is reported.
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            pending.remove(socket);
            open.remove(socket);
            socket->deleteLater();
        });
    }
}

void TestHttpServer::readRequests(QTcpSocket *socket)
{
    if (!pending.contains(socket))
        return; // answered for the last time, or left stalled on purpose
    QByteArray &buffer = pending[socket];
    buffer += socket->readAll();
    int end;
    while ((end = buffer.indexOf("\r\n\r\n")) >= 0) {
        const QList<QByteArray> lines = buffer.left(end).split('\n');
        buffer.remove(0, end + 4);

        Request request;
        const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
        request.method = requestLine.value(0);
        request.target = requestLine.value(1);
        // A proxy is asked for the whole URL.
        if (request.target.startsWith("http://"))
            request.target = request.target.mid(request.target.indexOf('/', 7));
        request.version = requestLine.value(2);
        for (int i = 1; i < lines.size(); ++i) {
            const int colon = lines.at(i).indexOf(':');
            if (colon > 0)
                request.headers.append({lines.at(i).left(colon).trimmed(),
                                        lines.at(i).mid(colon + 1).trimmed()});
        }
        received.append(request);
        emit requestReceived(request.target);

        const bool keepOpen = answer(socket, request)
                              && request.header("Connection").toLower() != "close";
        if (!keepOpen) {
            pending.remove(socket);
            return;
        }
    }
}

bool TestHttpServer::answer(QTcpSocket *socket, const Request &request)
{
    // The mirror serves the same files, without faults.
    const bool bMirror = request.target.startsWith(mirrorPrefix);
    if (!request.target.startsWith(prefix) && !bMirror) {
        socket->write(Page("404 Not Found"));
        return true;
    }
    const QString path = QUrl::fromPercentEncoding(
        request.target.mid(bMirror ? mirrorPrefix.size() : prefix.size()));

    if (!proxyLogin.isEmpty()
        && request.header("Proxy-Authorization") != "Basic " + proxyLogin.toBase64()) {
        socket->write(Page("407 Proxy Authentication Required",
                           {"Proxy-Authenticate: Basic realm=\"proxy\""}));
        return true;
    }
    const auto credential = credentials.constFind(path);
    if (credential != credentials.constEnd()
        && request.header("Authorization") != "Basic " + credential.value().toBase64()) {
        socket->write(Page("401 Unauthorized", {"WWW-Authenticate: Basic realm=\"updates\""}));
        return true;
    }

    std::optional<Fault> fault;
    const auto rule = faults.find(path);
    if (!bMirror && rule != faults.end() && rule->times != 0) {
        fault = rule->fault;
        if (rule->times > 0)
            --rule->times;
    }

    if (fault == Fault::NotFound) {
        socket->write(Page("404 Not Found"));
        return true;
    }
    if (fault == Fault::ServerError) {
        socket->write(Page("500 Internal Server Error"));
        return true;
    }
    if (fault == Fault::Redirect || fault == Fault::RedirectLoop) {
        const QByteArray target = fault == Fault::Redirect
                                      ? mirrorPrefix + request.target.mid(prefix.size())
                                      : request.target;
        socket->write(Page("302 Found", {"Location: " + target}));
        return true;
    }
    if (fault == Fault::RedirectToHttp) {
        QUrl plain = url();
        plain.setScheme(QStringLiteral("http"));
        plain.setPath(QString::fromLatin1(mirrorPrefix + request.target.mid(prefix.size())));
        socket->write(Page("302 Found", {"Location: " + plain.toEncoded()}));
        return true;
    }
    if (fault == Fault::Silent)
        return false;
    if (fault == Fault::Hangup) {
        socket->disconnectFromHost();
        return false;
    }

    QFile file(root + QLatin1Char('/') + path);
    if (!QFileInfo(file).isFile() || !file.open(QIODevice::ReadOnly)) {
        socket->write(Page("404 Not Found"));
        return true;
    }
    QByteArray body = file.readAll();
    const QByteArray etag = '"' + QCryptographicHash::hash(body, QCryptographicHash::Md5).toHex() + '"';
    QByteArray status = "200 OK";
    QList<QByteArray> headers{"Content-Type: application/octet-stream", "ETag: " + etag};
    const QByteArray range = request.header("Range");
    const QByteArray ifRange = request.header("If-Range");
    const Ranges ranges = rangeAnswers.value(path, Ranges::Honoured);
    const QList<QByteArray> bounds = range.mid(6).split('-');
    const bool bRange = range.startsWith("bytes=") && bounds.size() == 2;
    if (bRange && ranges == Ranges::Hung)
        return false;
    if (bRange && ranges != Ranges::Ignored && (ifRange.isEmpty() || ifRange == etag)) {
        const qint64 start = ranges == Ranges::WrongStart ? 0 : bounds.at(0).toLongLong();
        qint64 last = bounds.at(1).isEmpty() || ranges == Ranges::WrongStart
                          ? body.size() - 1
                          : qMin<qint64>(bounds.at(1).toLongLong(), body.size() - 1);
        if (ranges == Ranges::Short)
            last = start + qMax<qint64>(0, (last - start + 1) / 2 - 1);
        status = "206 Partial Content";
        headers << "Content-Range: bytes " + QByteArray::number(start) + '-'
                       + QByteArray::number(last) + '/' + QByteArray::number(body.size());
        body = body.mid(int(start), int(last + 1 - start));
        if (ranges == Ranges::Garbled && !body.isEmpty())
            body[0] = char(body.at(0) ^ 0x5a);
    }
    if (fault == Fault::Garbled && !body.isEmpty())
        body[0] = char(body.at(0) ^ 0x5a);
    if (fault == Fault::Gzip || fault == Fault::GzipBomb) {
        body = Gzip(fault == Fault::Gzip ? body : QByteArray(body.size() * 100, '\0'));
        headers << "Content-Encoding: gzip";
    }
    if (fault == Fault::Deflate) {
        body = qCompress(body).mid(4); // without Qt's length in front, a zlib stream
        headers << "Content-Encoding: deflate";
    }
    if (fault == Fault::Brotli)
        headers << "Content-Encoding: br";
    const QByteArray head = Head(status, body.size(), headers);

    if (fault == Fault::CutShort) {
        socket->write(head + body.left(body.size() / 2));
        socket->disconnectFromHost();
        return false;
    }
    if (fault == Fault::Stall) {
        socket->write(head + body.left(body.size() / 2));
        return false;
    }
    if (fault == Fault::Endless) {
        socket->write("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
        sendInPieces(socket, body, 64 * 1024, 1, true);
        return false;
    }
    socket->write(head);
    const bool bTrickle = fault == Fault::Trickle || (bRange && ranges == Ranges::Trickled);
    if (fault == Fault::Slow)
        sendInPieces(socket, body, 4096, 10);
    else if (bTrickle)
        sendInPieces(socket, body, 1, 10);
    else
        socket->write(body);
    return !bTrickle;
}

void TestHttpServer::sendInPieces(QTcpSocket *socket, const QByteArray &body, int piece,
                                  int interval, bool bRepeat)
{
    auto *timer = new QTimer(socket);
    auto offset = std::make_shared<int>(0);
    connect(timer, &QTimer::timeout, socket, [socket, timer, body, piece, bRepeat, offset] {
        socket->write(body.mid(*offset, piece));
        *offset += piece;
        if (*offset < body.size())
            return;
        if (bRepeat)
            *offset = 0;
        else
            timer->deleteLater();
    });
    timer->start(interval);
}

} // namespace TestSupport
