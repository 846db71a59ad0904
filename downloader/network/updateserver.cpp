#include "updateserver.h"

#include "updaterconfig.h"

namespace {

int PortOf(const QUrl &url)
{
    return url.port(IsHttps(url) ? 443 : 80);
}

} // namespace

bool IsHttps(const QUrl &url)
{
    return url.scheme() == QLatin1String("https");
}

UpdateServer::UpdateServer(const QUrl &url, const QList<QSslCertificate> &caCertificates)
    : url(url)
    , caCertificates(caCertificates)
{
}

UpdateServer UpdateServer::Compiled()
{
    QUrl url;
    url.setScheme(QString::fromLatin1(UpdaterConfig::serverScheme));
    url.setHost(QString::fromUtf8(UpdaterConfig::serverHost), QUrl::DecodedMode);
    url.setPort(UpdaterConfig::serverPort);
    return UpdateServer(url, QSslCertificate::fromData(UpdaterConfig::caCertificates, QSsl::Pem));
}

bool UpdateServer::Serves(const QUrl &other) const
{
    return other.scheme() == url.scheme() && other.host() == url.host() && PortOf(other) == PortOf(url);
}

QSslConfiguration UpdateServer::TlsConfiguration() const
{
    if (!IsHttps(url))
        return QSslConfiguration();
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setProtocol(QSsl::TlsV1_2OrLater);
    // Setting any certificates ends Qt's loading of the system's as it needs them, so these come
    // together with all of the system's.
    if (!caCertificates.isEmpty())
        configuration.setCaCertificates(QSslConfiguration::systemCaCertificates() + caCertificates);
    return configuration;
}
