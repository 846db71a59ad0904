#include "serverconnection.h"

#include "app/runlog.h"
#include "app/updaterfiles.h"
#include "downloader/network/networkerrors.h"

#include <QAuthenticator>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace {

// Set on a reply once the password was presented for it: a second demand means it was refused.
const char challengedProperty[] = "updaterChallenged";

} // namespace

ServerConnection::ServerConnection(const UpdateServer &server,
                                   const UpdaterConfig::RunSettings &settings, QObject *parent)
    : QObject(parent)
    , server(server)
    , settings(settings)
    , bPipelining(settings.bPipelining)
    // Over TLS, HTTP/2 is a matter of the handshake, not of prior knowledge.
    , bHttp2(settings.bHttp2 && !IsHttps(server.url))
    , throttle(new RateController(this))
{
}

ServerConnection::~ServerConnection()
{
    for (const std::unique_ptr<QNetworkAccessManager> &manager : accessManagers)
        manager->disconnect(this);
}

void ServerConnection::Open()
{
    tlsConfiguration = server.TlsConfiguration();
    // On the worker thread: finding the system's proxy may take a while (automatic configuration).
    const QString proxy = ProxyName();
    if (!proxy.isEmpty()) {
        qCInfo(lcRun).noquote() << QStringLiteral("Reaching %1 through the proxy at %2")
                                       .arg(server.url.authority(), proxy);
    }
}

void ServerConnection::Restart(const QString &newPassword)
{
    password = newPassword;
    // The old managers may have cached the previous credentials and would present them first.
    ReplaceAccessManagers();
}

void ServerConnection::SetProxyLogin(const QString &user, const QString &newPassword)
{
    proxyUser = user;
    proxyPassword = newPassword;
    ReplaceAccessManagers();
}

void ServerConnection::ReplaceAccessManagers()
{
    for (std::unique_ptr<QNetworkAccessManager> &manager : accessManagers) {
        manager->disconnect(this);
        manager.release()->deleteLater();
    }
    accessManagers.clear();
    for (int pool = 0; pool < qMax(1, settings.connectionPools); ++pool) {
        auto manager = std::make_unique<QNetworkAccessManager>();
        connect(manager.get(), &QNetworkAccessManager::finished,
                this, &ServerConnection::ReplyFinished);
        connect(manager.get(), &QNetworkAccessManager::authenticationRequired,
                this, &ServerConnection::AnswerChallenge);
        connect(manager.get(), &QNetworkAccessManager::proxyAuthenticationRequired,
                this, &ServerConnection::AnswerProxyChallenge);
        connect(manager.get(), &QNetworkAccessManager::sslErrors,
                this, &ServerConnection::RefuseCertificate);
        accessManagers.push_back(std::move(manager));
    }
}

namespace {

constexpr qint64 minimumLimitedBufferBytes = 16 * 1024;

} // namespace

QNetworkRequest ServerConnection::RequestFor(const QString &releasePath, QObject *origin,
                                             bool bPastCaches) const
{
    QUrl url = server.url;
    url.setPath(serverReleasePath + releasePath, QUrl::DecodedMode);
    QNetworkRequest request(url);
    request.setOriginatingObject(origin);
    if (!tlsConfiguration.isNull())
        request.setSslConfiguration(tlsConfiguration);
    request.setAttribute(QNetworkRequest::HttpPipeliningAllowedAttribute, bPipelining);
    // Over TLS, HTTP/2 is offered in the handshake and taken where the server accepts it; in clear
    // text only a server known to speak it is spoken to in it.
    // Qt's HTTP/2 grants the server room for more as soon as data arrives, not as it is read: a
    // limit or a pause holds a server back only over HTTP/1.1, where TCP does.
    const bool bTls = IsHttps(url);
    const bool bHttp2Allowed = !throttle->IsHolding() && (bTls || bHttp2);
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, bHttp2Allowed);
    request.setAttribute(QNetworkRequest::Http2DirectAttribute, bHttp2Allowed && !bTls);
    // Qt would ask for gzip and inflate it without bound: the bytes counted against a transfer's limit
    // and digested are the bytes that arrive.
    request.setRawHeader("Accept-Encoding", "identity");
    if (bPastCaches) {
        // Pragma for the caches of HTTP/1.0.
        request.setRawHeader("Cache-Control", "no-cache");
        request.setRawHeader("Pragma", "no-cache");
    }
    // A server may send its players to a mirror; what arrives from there is judged by its size and
    // digest like anything else. None may lead from HTTPS to plain HTTP.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(settings.maximumRedirects);
    return request;
}

QNetworkReply *ServerConnection::Get(const QNetworkRequest &request, int slot)
{
    QNetworkAccessManager &manager = *accessManagers.at(std::size_t(slot) % accessManagers.size());
    QNetworkReply *reply = manager.get(request);
    // Under a limit, what waits in a reply is a twentieth of a second's worth: the less the updater
    // takes in before it reads, the less the system's buffers grow, and the sooner the server feels
    // the limit at the start and the end of a file.
    const qint64 limit = throttle->Limit();
    reply->setReadBufferSize(limit > 0 ? qBound(minimumLimitedBufferBytes, limit / 20,
                                                settings.readBufferBytes)
                                       : settings.readBufferBytes);
    return reply;
}

void ServerConnection::NoteFinished(const QNetworkReply &reply)
{
    if (!bNegotiationLogged) {
        const QString negotiation = NegotiationLine(reply);
        bNegotiationLogged = !negotiation.isEmpty();
        if (bNegotiationLogged)
            qCInfo(lcRun).noquote() << negotiation;
    }
    // A server that has answered in HTTP/2 speaks it, though it closes a connection now and then.
    if (reply.attribute(QNetworkRequest::Http2WasUsedAttribute).toBool()
        && AnswerOf(reply) != Answer::None)
        bHttp2Answered = true;
}

void ServerConnection::NoteFileEnd(const QNetworkReply &reply, const QString &path)
{
    const bool bPipelined = reply.attribute(QNetworkRequest::HttpPipeliningWasUsedAttribute).toBool();
    if (bPipelined && AnswerOf(reply) == Answer::File && IsTransportError(reply.error()))
        StopPipelining(path);
    if (!bHttp2Answered && IsHttp2Refusal(reply))
        StopHttp2(path);
}

void ServerConnection::StopPipelining(const QString &path)
{
    if (!bPipelining)
        return;
    bPipelining = false;
    qCWarning(lcRun).noquote()
        << QStringLiteral("Requests no longer share a connection before their answers: the one for "
                          "%1 failed or stalled where the server, or a proxy on the way, had them in "
                          "a row")
               .arg(path);
}

void ServerConnection::StopHttp2(const QString &path)
{
    if (!bHttp2)
        return;
    bHttp2 = false;
    qCWarning(lcRun).noquote()
        << QStringLiteral("Falling back to HTTP/1.1: the server does not answer %1 in HTTP/2").arg(path);
}

void ServerConnection::AnswerChallenge(QNetworkReply *reply, QAuthenticator *authenticator)
{
    // Leaving the authenticator empty ends the reply with AuthenticationRequiredError, so the user is
    // asked again. A host that a redirect leads to is not the update server and never sees the
    // password, nor does the update server over plain HTTP when it is reached over HTTPS; one that
    // asks twice for one reply has refused it.
    if (password.isEmpty() || !server.Serves(reply->url())
        || reply->property(challengedProperty).toBool())
        return;
    reply->setProperty(challengedProperty, true);
    // An HTTP/2 connection shares one authenticator among its requests, and Qt takes one that was
    // sent before the credentials and challenged after them for a refusal of credentials that do
    // not change: setting them anew has them presented again.
    authenticator->setUser(QString());
    authenticator->setUser(QString::fromUtf8(UpdaterConfig::authUser));
    authenticator->setPassword(password);
}

void ServerConnection::AnswerProxyChallenge(const QNetworkProxy &,
                                            QAuthenticator *authenticator)
{
    // Without a login the reply ends with ProxyAuthenticationRequiredError, and the player is asked.
    // Qt takes the same login given again for a refusal: the player is asked again.
    if (proxyUser.isEmpty() && proxyPassword.isEmpty())
        return;
    authenticator->setUser(proxyUser);
    authenticator->setPassword(proxyPassword);
}

void ServerConnection::RefuseCertificate(QNetworkReply *reply, const QList<QSslError> &errors)
{
    // Not ignoring the errors ends the handshake: nothing is sent to a server that is not who it
    // claims to be, and the reply fails as if the server were down.
    const QString refusal = CertificateRefusal(reply->url(), errors);
    if (refusals.contains(refusal))
        return;
    refusals.insert(refusal);
    emit NetworkError(refusal, true);
}
