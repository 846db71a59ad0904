// The entry and its instance lock, run as a user runs them: the real executable, in a scratch folder.

#include "support/testsupport.h"

#include <QtTest>

namespace {

const QString lockMarker = QStringLiteral("Config/UU_Lock.setting");
const QString acceptedMarker = QStringLiteral("Config/UU_Accepted.setting");
const QString recoveredLine = QStringLiteral("Recovered a stale lock");

// Name, size and modification time of every entry below root: what "no file touched" compares. The
// log is left out: the running updater writes it whenever it has something to say.
QStringList snapshot(const QString &root)
{
    QStringList entries;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        if (info.fileName() == QLatin1String("updater.log"))
            continue;
        entries << QStringLiteral("%1 %2 %3")
                       .arg(info.filePath())
                       .arg(info.size())
                       .arg(info.lastModified().toMSecsSinceEpoch());
    }
    entries.sort();
    return entries;
}

qint64 fileSize(const QDir &dir, const QString &name)
{
    return QFileInfo(dir.filePath(name)).size();
}

} // namespace

class tst_Startup : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void firstStartCreatesMarkersAndCleansUp();
    void secondStartLeavesAtOnceAndTouchesNothing();
    void killedInstanceIsRecovered_data();
    void killedInstanceIsRecovered();
    void lockThatCannotBeWrittenLeavesItToTheMarker();
    void leftoverMarkerWithContentIsRecoveredAndEmptied();
    void configLivesInTheCurrentDirectory();
    void logFileKeepsThisRunAndThePrevious();

private:
    std::unique_ptr<QTemporaryDir> folder;
};

void tst_Startup::init()
{
    folder = std::make_unique<QTemporaryDir>();
    QVERIFY(folder->isValid());
}

void tst_Startup::firstStartCreatesMarkersAndCleansUp()
{
    const QDir dir(folder->path());
    TestSupport::UpdaterProcess updater(dir.path());
    QVERIFY(updater.startAndWaitUntilRunning());

    QVERIFY(dir.exists(lockMarker));
    QVERIFY(dir.exists(acceptedMarker));
    QCOMPARE(fileSize(dir, lockMarker), 0);
    QCOMPARE(fileSize(dir, acceptedMarker), 0);
    QVERIFY(!updater.errorOutput().contains(recoveredLine));

    QVERIFY(updater.closeAndWait());
    QCOMPARE(updater.exitCode(), 0);
    QVERIFY(!dir.exists(lockMarker));
    QVERIFY(dir.exists(acceptedMarker));
    QVERIFY(!dir.exists("Config/UU_Instance.lock"));
}

void tst_Startup::secondStartLeavesAtOnceAndTouchesNothing()
{
    TestSupport::UpdaterProcess first(folder->path());
    QVERIFY(first.startAndWaitUntilRunning());
    // Whatever the first one's run writes must be written before the comparison begins. No update
    // server answers here, so its run fails at once, and says so in its log as its last word.
    const QDir dir(folder->path());
    QTRY_VERIFY_WITH_TIMEOUT(TestSupport::readFile(dir.filePath("Config/updater.log"))
                                 .contains("Cannot use ReleaseNotes.xml"), 20000);
    const QStringList before = snapshot(folder->path());

    QProcess second;
    second.setWorkingDirectory(folder->path());
    second.setProcessEnvironment(TestSupport::UpdaterProcess::environment());
    second.start(TestSupport::updaterExecutable(), QStringList());
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(second.readAllStandardOutput(), QByteArray());
    QCOMPARE(second.readAllStandardError(), QByteArray());
    QCOMPARE(snapshot(folder->path()), before);

    // The first one is not disturbed by the attempt.
    QCOMPARE(first.state(), QProcess::Running);
    QVERIFY(first.closeAndWait());
    QVERIFY(!QDir(folder->path()).exists(lockMarker));
}

void tst_Startup::killedInstanceIsRecovered_data()
{
    QTest::addColumn<bool>("bBeforeItsLockNamedIt");
    QTest::newRow("killed while it runs") << false;
    QTest::newRow("killed before its lock named it") << true;
}

void tst_Startup::killedInstanceIsRecovered()
{
    QFETCH(bool, bBeforeItsLockNamedIt);
    const QDir dir(folder->path());
    if (bBeforeItsLockNamedIt) {
        QVERIFY(TestSupport::writeFile(dir.filePath(lockMarker), ""));
        QFile lock(dir.filePath("Config/UU_Instance.lock"));
        QVERIFY(lock.open(QIODevice::WriteOnly));
        QVERIFY(lock.setFileTime(QDateTime::currentDateTime().addSecs(-60),
                                 QFileDevice::FileModificationTime));
    } else {
        TestSupport::UpdaterProcess killed(dir.path());
        QVERIFY(killed.startAndWaitUntilRunning());
        killed.kill();
        QVERIFY(killed.waitForFinished());
    }
    QVERIFY(dir.exists(lockMarker));

    TestSupport::UpdaterProcess next(dir.path());
    QVERIFY(next.startAndWaitUntilRunning());
    QCOMPARE(next.errorOutput().count(recoveredLine), 1);
    QVERIFY(dir.exists(lockMarker));

    // A recovered lock protects like a fresh one.
    QProcess third;
    third.setWorkingDirectory(dir.path());
    third.setProcessEnvironment(TestSupport::UpdaterProcess::environment());
    third.start(TestSupport::updaterExecutable(), QStringList());
    QVERIFY(third.waitForFinished(10000));
    QCOMPARE(third.exitCode(), 0);
    QCOMPARE(third.readAllStandardError(), QByteArray());

    QVERIFY(next.closeAndWait());
    QCOMPARE(next.exitCode(), 0);
    QVERIFY(!dir.exists(lockMarker));
}

void tst_Startup::lockThatCannotBeWrittenLeavesItToTheMarker()
{
    const QDir dir(folder->path());
    QVERIFY(TestSupport::writeFile(dir.filePath(lockMarker), ""));
    const QStringList before = snapshot(dir.path());
    // A read-only Config/, even for root: a mount of its own in a namespace of its own.
    if (QStandardPaths::findExecutable("unshare").isEmpty())
        QSKIP("This system has no unshare to mount a read-only folder with");
    QProcess updater;
    updater.setWorkingDirectory(dir.path());
    updater.setProcessEnvironment(TestSupport::UpdaterProcess::environment());
    updater.start("unshare", {"-rm", "sh", "-c",
                              "mount --bind Config Config && mount -o remount,bind,ro Config"
                              " || exit 77; exec \"$0\"", TestSupport::updaterExecutable()});
    QVERIFY(updater.waitForFinished(10000));
    if (updater.exitStatus() != QProcess::NormalExit || updater.exitCode() == 77)
        QSKIP("This machine cannot mount a read-only folder in a namespace of its own");

    QCOMPARE(updater.exitCode(), 0);
    QCOMPARE(updater.readAllStandardError(), QByteArray());
    QCOMPARE(snapshot(dir.path()), before);
}

void tst_Startup::leftoverMarkerWithContentIsRecoveredAndEmptied()
{
    const QDir dir(folder->path());
    QVERIFY(dir.mkpath("Config"));
    for (const QString &marker : {lockMarker, acceptedMarker}) {
        QFile file(dir.filePath(marker));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("left over by somebody");
    }

    TestSupport::UpdaterProcess updater(dir.path());
    QVERIFY(updater.startAndWaitUntilRunning());
    QCOMPARE(updater.errorOutput().count(recoveredLine), 1);
    QCOMPARE(fileSize(dir, lockMarker), 0);
    QCOMPARE(fileSize(dir, acceptedMarker), 0);

    QVERIFY(updater.closeAndWait());
    QVERIFY(!dir.exists(lockMarker));
}

void tst_Startup::configLivesInTheCurrentDirectory()
{
    const QDir dir(folder->path());
    QVERIFY(dir.mkpath("elsewhere"));
    const QString executableFolder = QFileInfo(TestSupport::updaterExecutable()).path();
    const bool configBesideExecutable = QDir(executableFolder).exists("Config");

    TestSupport::UpdaterProcess updater(dir.filePath("elsewhere"));
    QVERIFY(updater.startAndWaitUntilRunning());
    QVERIFY(dir.exists("elsewhere/" + lockMarker));
    QVERIFY(!dir.exists("Config"));
    QCOMPARE(QDir(executableFolder).exists("Config"), configBesideExecutable);
    QVERIFY(updater.closeAndWait());
}

void tst_Startup::logFileKeepsThisRunAndThePrevious()
{
    const QDir dir(folder->path());
    auto readLog = [&dir](const QString &name) {
        QFile file(dir.filePath("Config/" + name));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    };

    {
        TestSupport::UpdaterProcess first(dir.path());
        QVERIFY(first.startAndWaitUntilRunning());
        first.kill();
        QVERIFY(first.waitForFinished());
    }
    const QString firstLog = readLog("updater.log");
    // One time-stamped line per debug line, as the updater wrote it.
    const QRegularExpression connectLine(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3} debug Downloader::Connect$"),
        QRegularExpression::MultilineOption);
    QVERIFY2(connectLine.match(firstLog).hasMatch(), qPrintable(firstLog));

    TestSupport::UpdaterProcess second(dir.path());
    QVERIFY(second.startAndWaitUntilRunning());
    QCOMPARE(readLog("updater.log.1"), firstLog);
    QTRY_VERIFY(readLog("updater.log").contains(recoveredLine));
    QVERIFY(second.closeAndWait());
}

QTEST_GUILESS_MAIN(tst_Startup)
#include "tst_startup.moc"
