#include "networkerrors.h"

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
