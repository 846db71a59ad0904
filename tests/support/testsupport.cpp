#include "testsupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QThread>
#include <QtTest>

namespace TestSupport {

namespace {

// Messages come from every thread, also while a recorder is being destroyed on the test's own.
QMutex recorderMutex;
MessageRecorder *activeRecorder = nullptr;
QtMessageHandler previousHandler = nullptr;

} // namespace

QString updaterExecutable()
{
    return QStringLiteral(UPDATER_EXECUTABLE);
}

UpdaterProcess::UpdaterProcess(const QString &workingDirectory)
{
    setWorkingDirectory(workingDirectory);
    setProcessEnvironment(environment());
}

UpdaterProcess::~UpdaterProcess()
{
    if (state() != NotRunning) {
        kill();
        waitForFinished();
    }
}

QProcessEnvironment UpdaterProcess::environment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("QT_FORCE_STDERR_LOGGING"), QStringLiteral("1"));
    return environment;
}

bool UpdaterProcess::startAndWaitUntilRunning()
{
    start(updaterExecutable(), QStringList());
    if (!waitForStarted())
        return false;
    return QTest::qWaitFor([this] { return errorOutput().contains(QLatin1String("Downloader::Connect")); },
                           20000);
}

bool UpdaterProcess::closeAndWait()
{
    terminate();
    return waitForFinished(5000) && exitStatus() == NormalExit;
}

QString UpdaterProcess::errorOutput()
{
    collectedErrors += QString::fromUtf8(readAllStandardError());
    return collectedErrors;
}

SilentServer::SilentServer()
{
    listen(QHostAddress::LocalHost);
    // Connections wait in the backlog, accepted by the system, unanswered by anybody.
    pauseAccepting();
}

QUrl SilentServer::url() const
{
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(serverAddress().toString());
    url.setPort(serverPort());
    return url;
}

ScopedCurrentDir::ScopedCurrentDir(const QString &path)
    : previous(QDir::currentPath())
{
    QDir::setCurrent(path);
}

ScopedCurrentDir::~ScopedCurrentDir()
{
    QDir::setCurrent(previous);
}

QString makeManifestExecutable()
{
    return QStringLiteral(MAKE_MANIFEST_EXECUTABLE);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(content) == content.size())
        return true;
    qWarning() << "cannot write" << path << file.errorString();
    return false;
}

bool makeSparseFile(const QString &path, qint64 size)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.resize(size))
        return true;
    qWarning() << "cannot make" << path << file.errorString();
    return false;
}

bool makeFullDiskFile(const QString &path)
{
    const QString device = QStringLiteral("/dev/full");
    return QFile::exists(device) && QFileInfo(path).dir().mkpath(QStringLiteral("."))
           && QFile::link(device, path);
}

QStringList filesBelow(const QString &root)
{
    QStringList files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(root).relativeFilePath(it.next());
    files.sort();
    return files;
}

UpdaterConfig::RunSettings shortSettings()
{
    UpdaterConfig::RunSettings settings;
    settings.stallInterval = 1000;
    settings.slowWindow = 2000;
    settings.transfers = 4;
    return settings;
}

ManifestListing manifestListing(const QByteArray &xml, const QString &folder)
{
    ManifestListing listing;
    if (const std::optional<QString> problem = ManifestListingProblem(xml, folder, &listing))
        qWarning() << "Cannot use the manifest:" << *problem;
    return listing;
}

QString md5Hex(const QByteArray &content)
{
    return QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex());
}

MessageRecorder::MessageRecorder()
{
    QMutexLocker locker(&recorderMutex);
    activeRecorder = this;
    previousHandler = qInstallMessageHandler(&MessageRecorder::handle);
}

MessageRecorder::~MessageRecorder()
{
    QMutexLocker locker(&recorderMutex);
    qInstallMessageHandler(previousHandler);
    activeRecorder = nullptr;
}

QList<MessageRecorder::Message> MessageRecorder::messages() const
{
    QMutexLocker locker(&recorderMutex);
    return recorded;
}

QStringList MessageRecorder::texts() const
{
    QStringList result;
    const QList<Message> all = messages();
    for (const Message &message : all)
        result << message.text;
    return result;
}

void MessageRecorder::handle(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    QtMessageHandler next;
    {
        QMutexLocker locker(&recorderMutex);
        if (activeRecorder)
            activeRecorder->recorded.append({text, QThread::currentThread()});
        next = previousHandler;
    }
    if (next)
        next(type, context, text);
}

} // namespace TestSupport
