#ifndef DOWNLOADER_H
#define DOWNLOADER_H

#include <QObject>
#include <QString>
#include <QUrl>

// The updater's only network client. It lives on the window's worker thread and talks to the window
// through queued signals only.
class Downloader : public QObject
{
    Q_OBJECT

public:
    // The server compiled into this build.
    static QUrl DefaultServerUrl();

    explicit Downloader(const QUrl &server = DefaultServerUrl());

signals:
    void PasswordRequired();
    void BytesDownloaded(int, float);
    void FileDownloaded(QString downloadedFile);
    void NetworkError(QString message, bool bIsHeavy);

public slots:
    void Connect();
    void Login(QString pwd);
    void DownloadFile(QString dir, QString file);

private:
    QUrl server;
};

#endif // DOWNLOADER_H
