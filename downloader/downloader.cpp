#include "downloader.h"

#include "updaterconfig.h"

#include <QDebug>


QUrl Downloader::DefaultServerUrl()
{
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(QString::fromUtf8(UpdaterConfig::serverHost), QUrl::DecodedMode);
    url.setPort(UpdaterConfig::serverPort);
    return url;
}

Downloader::Downloader(const QUrl &server)
    : server(server)
{
}

void Downloader::Connect()
{
    qDebug() << "Downloader::Connect";
}

void Downloader::Login(QString pwd)
{
    Q_UNUSED(pwd)
    qDebug() << "Downloader::Login";
}

void Downloader::DownloadFile(QString dir, QString file)
{
    Q_UNUSED(dir)
    Q_UNUSED(file)
    qDebug() << "Downloader::DownloadFile";
}
