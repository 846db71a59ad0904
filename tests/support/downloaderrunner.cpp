#include "downloaderrunner.h"

#include "app/updaterfiles.h"
#include "downloader/downloader.h"

#include <QDir>

namespace TestSupport {

DownloaderRunner::DownloaderRunner(const UpdateServer &server, const UpdaterConfig::RunSettings &settings)
    : worker(server, settings)
{
    Downloader *downloader = worker.downloader();
    connect(this, &DownloaderRunner::DownloadFile, downloader, &Downloader::DownloadFile);
    connect(this, &DownloaderRunner::Login, downloader, &Downloader::Login);
    connect(this, &DownloaderRunner::ProxyLogin, downloader, &Downloader::ProxyLogin);
    connect(this, &DownloaderRunner::ExpectFiles, downloader, &Downloader::ExpectFiles);
    connect(this, &DownloaderRunner::SetSpeedLimit, downloader, &Downloader::SetSpeedLimit);
    connect(this, &DownloaderRunner::SetPaused, downloader, &Downloader::SetPaused);
    connect(downloader, &Downloader::PasswordRequired, this, &DownloaderRunner::PasswordRequired);
    connect(downloader, &Downloader::ProxyPasswordRequired, this,
            &DownloaderRunner::ProxyPasswordRequired);
    connect(downloader, &Downloader::BytesDownloaded, this, &DownloaderRunner::BytesDownloaded);
    connect(downloader, &Downloader::FileDownloaded, this, &DownloaderRunner::FileDownloaded);
    connect(downloader, &Downloader::NetworkError, this, &DownloaderRunner::NetworkError);
    connect(downloader, &Downloader::FileStaged, this, &DownloaderRunner::FileStaged);
    connect(this, &DownloaderRunner::FileStaged, this,
            [this](const QString &path, const FileStamp &stamp, const QString &md5) {
                // A file of the manifest is staged, a document in place.
                const QDir stagedCopies(ConfigFiles::stagedFolder);
                bool bFresh = ReadFileStamp(path) == stamp;
                for (const QString &name : stagedCopies.entryList(QDir::Files))
                    bFresh = bFresh || ReadFileStamp(stagedCopies.filePath(name)) == stamp;
                committed << path + QLatin1Char(' ') + md5 + (bFresh ? "" : " (stale stamp)");
            });

    connect(this, &DownloaderRunner::PasswordRequired, this,
            [this] { received << QStringLiteral("PasswordRequired"); });
    connect(this, &DownloaderRunner::BytesDownloaded, this,
            [this](int deltaBytes) { bytes += deltaBytes; });
    connect(this, &DownloaderRunner::FileDownloaded, this,
            [this](const QString &name) { received << QStringLiteral("FileDownloaded ") + name; });
    connect(this, &DownloaderRunner::NetworkError, this, [this](const QString &message, bool heavy) {
        received << QStringLiteral("NetworkError %1 %2").arg(message, heavy ? "heavy" : "light");
    });

    worker.Start();
}

QStringList DownloaderRunner::events() const
{
    return received;
}

qint64 DownloaderRunner::reportedBytes() const
{
    return bytes;
}

QStringList DownloaderRunner::commits() const
{
    return committed;
}

} // namespace TestSupport
