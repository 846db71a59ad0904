#ifndef UPDATESERVER_H
#define UPDATESERVER_H

#include <QList>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QUrl>

// Whether url is reached over TLS.
bool IsHttps(const QUrl &url);

// The update server as the Downloader reaches it: its scheme, host and port, and over HTTPS the CA
// certificates trusted to vouch for it besides those of the player's system.
struct UpdateServer
{
    // From a URL alone (tests start their own servers): no certificates beyond the system's.
    UpdateServer(const QUrl &url = QUrl(), const QList<QSslCertificate> &caCertificates = {});

    // The server compiled into this build, with the build's certificates.
    static UpdateServer Compiled();

    // Whether url leads to this server: same scheme, host and port. Only this server is given the
    // password, and over HTTPS only inside TLS.
    bool Serves(const QUrl &url) const;
    // What requests to an HTTPS server go out with: the system's trust (loaded as Qt needs it, unless
    // certificates of the build's are added to it) and TLS 1.2 or later. Null for a plain HTTP
    // server, whose requests keep Qt's own and leave OpenSSL alone.
    QSslConfiguration TlsConfiguration() const;

    QUrl url;
    QList<QSslCertificate> caCertificates;
};

#endif // UPDATESERVER_H
