#include "networkerrors.h"

#include "downloader/network/updateserver.h"

#include <QNetworkProxyFactory>
#include <QRegularExpression>
#include <QSslCipher>
#include <QSslConfiguration>
#include <QStringList>

QString NetworkErrorMessage(QNetworkReply::NetworkError code)
{
    const int value = static_cast<int>(code);
    const QString number = QString::number(value);
    switch (value) {
    case QNetworkReply::NoError:
        return QString();
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::TimeoutError:
        return QStringLiteral("网络错误 (") + number + QLatin1Char(')');
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyTimeoutError:
    case QNetworkReply::ProxyAuthenticationRequiredError:
    case QNetworkReply::UnknownProxyError:
        return QStringLiteral("代理错误 (") + number + QLatin1Char(')');
    case QNetworkReply::AuthenticationRequiredError:
        return QStringLiteral("授权需要密码");
    default:
        return QStringLiteral("服务器错误 (") + number + QLatin1Char(')');
    }
}

Answer AnswerOf(const QNetworkReply &reply)
{
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        return Answer::None;
    return status.toInt() >= 200 && status.toInt() < 300 ? Answer::File : Answer::Other;
}

qint64 RangeStartOf(const QNetworkReply &reply)
{
    static const QRegularExpression range(QStringLiteral("^bytes (\\d+)-\\d+/(?:\\d+|\\*)$"));
    const QRegularExpressionMatch match =
        range.match(QString::fromLatin1(reply.rawHeader("Content-Range").trimmed()));
    return match.hasMatch() ? match.captured(1).toLongLong() : -1;
}

bool IsTransportError(QNetworkReply::NetworkError error)
{
    return error != QNetworkReply::NoError && error != QNetworkReply::OperationCanceledError
           && error < QNetworkReply::ProxyConnectionRefusedError;
}

QString ProxyFor(const QUrl &url)
{
    const QList<QNetworkProxy> proxies =
        QNetworkProxyFactory::proxyForQuery(QNetworkProxyQuery(url));
    if (proxies.isEmpty() || proxies.first().type() == QNetworkProxy::NoProxy)
        return {};
    return QStringLiteral("%1:%2").arg(proxies.first().hostName()).arg(proxies.first().port());
}

QString ProxyRefusal(const QNetworkReply &reply, const QString &path)
{
    if (reply.error() < QNetworkReply::ProxyConnectionRefusedError
        || reply.error() > QNetworkReply::UnknownProxyError)
        return {};
    const QString proxy = ProxyFor(reply.url());
    return QStringLiteral("The proxy at %1 refused the request for %2: %3")
        .arg(proxy.isEmpty() ? QStringLiteral("(unknown)") : proxy, path, reply.errorString());
}

bool IsHttp2Refusal(const QNetworkReply &reply)
{
    const QNetworkReply::NetworkError error = reply.error();
    return reply.request().attribute(QNetworkRequest::Http2DirectAttribute).toBool()
           && AnswerOf(reply) == Answer::None && IsTransportError(error)
           && error != QNetworkReply::ConnectionRefusedError
           && error != QNetworkReply::HostNotFoundError;
}

bool IsUntakenRequest(const QNetworkReply &reply)
{
    if (AnswerOf(reply) != Answer::None)
        return false;
    // Qt tells the two HTTP/2 refusals from other failures of their codes only by its texts.
    switch (reply.error()) {
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::ContentReSendError:  // past the last stream of a GOAWAY without an error
        return true;
    case QNetworkReply::ProtocolUnknownError:  // queued when a GOAWAY came
        return reply.errorString().contains(QLatin1String("GOAWAY"));
    case QNetworkReply::ProtocolFailure:
        return reply.errorString().contains(QLatin1String("refused a stream"));
    default:
        return false;
    }
}

namespace {

QString HostAndPort(const QUrl &url)
{
    return url.host() + QLatin1Char(':') + QString::number(url.port(443));
}

} // namespace

QString CertificateRefusal(const QUrl &url, const QList<QSslError> &errors)
{
    QStringList reasons;
    for (const QSslError &error : errors)
        reasons << error.errorString();
    reasons.removeDuplicates();
    return QStringLiteral("Refused the certificate of %1: %2")
        .arg(HostAndPort(url), reasons.join(QLatin1String("; ")));
}

QString NegotiationLine(const QNetworkReply &reply)
{
    if (!IsHttps(reply.url()) || AnswerOf(reply) == Answer::None)
        return QString();
    const QString protocol = reply.sslConfiguration().sessionCipher().protocolString();
    const bool bHttp2 = reply.attribute(QNetworkRequest::Http2WasUsedAttribute).toBool();
    return QStringLiteral("Talking to %1 over %2 in %3")
        .arg(HostAndPort(reply.url()), protocol.isEmpty() ? QStringLiteral("TLS") : protocol,
             bHttp2 ? QStringLiteral("HTTP/2") : QStringLiteral("HTTP/1.1"));
}
