#ifndef TESTSUPPORT_H
#define TESTSUPPORT_H

#include "documents/installation/manifestlisting.h"
#include "updaterconfig.h"

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QUrl>

class QThread;

namespace TestSupport {

// Path of the built updater executable.
QString updaterExecutable();

// The real updater executable, started in a folder of the test's choosing on the offscreen platform.
class UpdaterProcess : public QProcess
{
public:
    explicit UpdaterProcess(const QString &workingDirectory);
    ~UpdaterProcess() override;

    static QProcessEnvironment environment();

    // Starts the updater and waits until its worker thread has begun the run.
    bool startAndWaitUntilRunning();
    // Asks the updater to stop as a closing session would, and waits for it to end cleanly.
    bool closeAndWait();
    // Everything the process has written to standard error so far.
    QString errorOutput();

private:
    QString collectedErrors;
};

// A server on 127.0.0.1 that takes connections and never answers: a window built against it stays
// waiting for its release notes, so a test can look at the window's state without a run moving it.
class SilentServer : public QTcpServer
{
public:
    SilentServer();
    QUrl url() const;
};

// Makes `path` the current directory while it lives and restores the previous one afterwards: the
// Downloader reads and writes relative to the current directory.
class ScopedCurrentDir
{
public:
    explicit ScopedCurrentDir(const QString &path);
    ~ScopedCurrentDir();
    ScopedCurrentDir(const ScopedCurrentDir &) = delete;
    ScopedCurrentDir &operator=(const ScopedCurrentDir &) = delete;

private:
    QString previous;
};

// Path of the built make-manifest tool.
QString makeManifestExecutable();

// The whole content of path, or "<missing>" when it cannot be read.
QByteArray readFile(const QString &path);

// Writes content to path, creating the folders above it. False, with a test warning, on failure.
bool writeFile(const QString &path, const QByteArray &content);

// A file of the given size that takes no room on disk and reads as zeros; for passes that must run
// long enough to be stopped.
bool makeSparseFile(const QString &path, qint64 size);

// Makes path a file that takes no byte, as on a full disk, and says whether it could: only where
// the system has a device that refuses every write (/dev/full), so not on Windows.
bool makeFullDiskFile(const QString &path);

// Every file below root, relative to it and sorted, hidden ones and those in subfolders included: a
// staging file left behind under Config/ shows up here.
QStringList filesBelow(const QString &root);

// Settings whose waits are short enough for tests and long enough for a busy machine, with four
// transfers in flight.
UpdaterConfig::RunSettings shortSettings();

// The files that the manifest xml lists below folder; with a test warning if it cannot be read.
ManifestListing manifestListing(const QByteArray &xml, const QString &folder = QString());

// The lower-case hexadecimal MD5 digest of content, computed in one piece.
QString md5Hex(const QByteArray &content);

// Records every message that passes Qt's message handler while it lives, with the thread that wrote
// it, so that a test can assert on debug lines. Messages still reach the previous handler.
class MessageRecorder
{
public:
    struct Message
    {
        QString text;
        QThread *thread;
    };

    MessageRecorder();
    ~MessageRecorder();
    MessageRecorder(const MessageRecorder &) = delete;
    MessageRecorder &operator=(const MessageRecorder &) = delete;

    QList<Message> messages() const;
    QStringList texts() const;

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &text);

    QList<Message> recorded;
};

} // namespace TestSupport

#endif // TESTSUPPORT_H
