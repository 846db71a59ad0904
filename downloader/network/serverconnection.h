#ifndef SERVERCONNECTION_H
#define SERVERCONNECTION_H

#include "downloader/network/networkerrors.h"
#include "downloader/network/serveractivity.h"
#include "downloader/network/updateserver.h"
#include "downloader/throttle/ratecontroller.h"
#include "updaterconfig.h"

#include <QList>
#include <QNetworkProxy>
#include <QObject>
#include <QSet>
#include <QSslConfiguration>
#include <QSslError>
#include <QString>

#include <memory>
#include <vector>

class QAuthenticator;
class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;

// The one way to the update server: its access managers (each with connections of its own), what
// requests go out with (TLS, HTTP/2, requests in a row before their answers, the redirect rules),
// the password, and when the server last sent anything. What a server or a proxy on the way
// mishandles is turned off here for the rest of the run, for every request alike.
class ServerConnection : public QObject
{
    Q_OBJECT

public:
    ServerConnection(const UpdateServer &server, const UpdaterConfig::RunSettings &settings,
                     QObject *parent = nullptr);
    ~ServerConnection() override;

    // Made once the worker thread runs: OpenSSL is loaded on it.
    void Open();
    // New access managers, which present password (none if empty) when the server asks for one.
    void Restart(const QString &password);
    // New access managers, which present user and password when the proxy asks for them.
    void SetProxyLogin(const QString &user, const QString &password);
    // "host:port" of the proxy between the updater and the server, or empty without one.
    QString ProxyName() const { return ProxyFor(server.url); }
    // Drops every connection, with every request on it.
    void ReplaceAccessManagers();

    // The request for the file at releasePath (below the release) that origin makes: its replies
    // name it. bPastCaches: the server itself must answer, not a cache between.
    QNetworkRequest RequestFor(const QString &releasePath, QObject *origin,
                               bool bPastCaches = false) const;
    // Sends it over the access manager of a staging slot, so that the transfers spread over the
    // managers' connections.
    QNetworkReply *Get(const QNetworkRequest &request, int slot);

    ServerActivity *Activity() { return &activity; }
    // The player's speed limit and pause, which every transfer reads through.
    RateController *Throttle() { return throttle; }
    bool IsHttp2() const { return bHttp2; }
    // What a reply that has ended tells of the server: over HTTPS, the first answer has the log say
    // what the handshake agreed on; an answer in HTTP/2 shows that the server speaks it.
    void NoteFinished(const QNetworkReply &reply);
    // What the end of the reply of a file at path tells of the way to the server: a connection with
    // requests in a row broke while a file arrived, or the server does not speak HTTP/2.
    void NoteFileEnd(const QNetworkReply &reply, const QString &path);
    // Turn a faster mode off for the rest of the run once a server or a proxy mishandles it.
    void StopPipelining(const QString &path);
    void StopHttp2(const QString &path);

signals:
    void ReplyFinished(QNetworkReply *reply);
    void NetworkError(QString message, bool bIsHeavy);

private:
    void AnswerChallenge(QNetworkReply *reply, QAuthenticator *authenticator);
    void AnswerProxyChallenge(const QNetworkProxy &proxy, QAuthenticator *authenticator);
    // A server's certificate did not verify: the reply ends unanswered, and the log says why, once
    // for each reason.
    void RefuseCertificate(QNetworkReply *reply, const QList<QSslError> &errors);

    const UpdateServer server;
    const UpdaterConfig::RunSettings settings;
    QSslConfiguration tlsConfiguration;  // every request's over HTTPS, made by Open
    QString password;
    QString proxyUser;
    QString proxyPassword;
    bool bPipelining;
    bool bHttp2;
    bool bHttp2Answered = false;  // the server has answered in HTTP/2
    bool bNegotiationLogged = false;
    std::vector<std::unique_ptr<QNetworkAccessManager>> accessManagers;
    QSet<QString> refusals;  // certificate refusals already logged
    ServerActivity activity;
    RateController *throttle;  // child, so that it moves to the worker thread with the rest
};

#endif // SERVERCONNECTION_H
