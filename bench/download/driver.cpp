// Drives a Downloader as the window does: on its own thread, one DownloadFile at a time, the next
// one only after the previous FileDownloaded has arrived on the main thread. Fetches the paths listed
// in a file (one per line, relative to /qor_app/) into the current directory and prints one line:
//   files=N bytes=B seconds=S rss_start_kib=R rss_growth_kib=G errors=E

#include "downloader/downloader.h"
#include "downloader/downloaderthread.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>

namespace {

// Resident set size of this process in KiB, from /proc.
qint64 ResidentKib()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> lines = status.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

class Driver : public QObject
{
    Q_OBJECT

public:
    explicit Driver(QStringList paths)
        : paths(std::move(paths))
    {
        connect(&sampler, &QTimer::timeout, this, [this] { peakKib = qMax(peakKib, ResidentKib()); });
    }

    void FileDownloaded()
    {
        if (!clock.isValid()) {
            // The release notes that Connect fetches: the measured run starts now. The files have
            // no digest here, so the Downloader takes them as they come, whatever their size.
            QList<DownloadItem> files;
            for (const QString &path : qAsConst(paths)) {
                const int slash = path.lastIndexOf(QLatin1Char('/'));
                files.append({path.left(slash + 1), path.mid(slash + 1)});
            }
            emit ExpectFiles(files);
            startKib = peakKib = ResidentKib();
            sampler.start(20);
            clock.start();
        }
        if (next < paths.size()) {
            const QString &path = paths.at(next++);
            const int slash = path.lastIndexOf(QLatin1Char('/'));
            emit DownloadFile(path.left(slash + 1), path.mid(slash + 1));
            return;
        }
        const double seconds = clock.nsecsElapsed() / 1e9;
        peakKib = qMax(peakKib, ResidentKib());
        qint64 bytes = 0;
        for (const QString &path : qAsConst(paths))
            bytes += QFileInfo(path).size();
        std::printf("files=%d bytes=%lld seconds=%.6f rss_start_kib=%lld rss_growth_kib=%lld "
                    "errors=%d\n",
                    int(paths.size()), bytes, seconds, startKib, peakKib - startKib, errors);
        QCoreApplication::quit();
    }

    void NetworkError() { ++errors; }

signals:
    void DownloadFile(QString dir, QString file);
    void ExpectFiles(QList<DownloadItem> files);

private:
    QStringList paths;
    int next = 0;
    int errors = 0;
    QElapsedTimer clock;
    QTimer sampler;
    qint64 startKib = 0;
    qint64 peakKib = 0;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.size() != 3) {
        std::fprintf(stderr, "usage: %s SERVER-URL PATH-LIST\n", argv[0]);
        return 2;
    }
    QFile list(arguments.at(2));
    if (!list.open(QIODevice::ReadOnly | QIODevice::Text)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(arguments.at(2)));
        return 2;
    }
    const QStringList paths = QString::fromUtf8(list.readAll()).split('\n', Qt::SkipEmptyParts);

    Driver driver(paths);
    DownloaderThread worker{QUrl(arguments.at(1)), UpdaterConfig::RunSettings()};
    Downloader *downloader = worker.downloader();
    QObject::connect(&driver, &Driver::ExpectFiles, downloader, &Downloader::ExpectFiles);
    QObject::connect(&driver, &Driver::DownloadFile, downloader, &Downloader::DownloadFile);
    QObject::connect(downloader, &Downloader::FileDownloaded, &driver, &Driver::FileDownloaded);
    QObject::connect(downloader, &Downloader::NetworkError, &driver, &Driver::NetworkError);
    worker.Start();
    return application.exec();
}

#include "driver.moc"
