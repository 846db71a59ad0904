#include "app/updaterfiles.h"
#include "downloader/staging/filereplacement.h"
#include "downloader/staging/stagedfile.h"
#include "downloader/staging/stagedswitch.h"
#include "support/testsupport.h"
#include "updaterconfig.h"

#include <QtTest>

class tst_StagedFile : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void commitReplacesTheTarget();
    void switchPutsEveryFileInPlace();
    void heldSwitchMovesNothing_data();
    void heldSwitchMovesNothing();
    void interruptedSwitchIsFinished_data();
    void interruptedSwitchIsFinished();
    void newFileIsReadableByOthers();
    void digestCoversEveryPartInOrder();
    void destructionKeepsThePreviousCopy();
    void failureKeepsThePreviousCopy_data();
    void failureKeepsThePreviousCopy();

private:
    QStringList entries() const;
    // A release whose switch replaces Game.pak ("previous copy") and adds App/New/Level.pak.
    QList<SwitchEntry> stageRelease();

    const qint64 handOver = UpdaterConfig::RunSettings().partBytes;

    std::unique_ptr<QTemporaryDir> folder;
    std::unique_ptr<TestSupport::ScopedCurrentDir> currentDir;
};

void tst_StagedFile::init()
{
    folder = std::make_unique<QTemporaryDir>();
    QVERIFY(folder->isValid());
    currentDir = std::make_unique<TestSupport::ScopedCurrentDir>(folder->path());
}

void tst_StagedFile::cleanup()
{
    currentDir.reset();
    folder.reset();
}

QStringList tst_StagedFile::entries() const
{
    return QDir(folder->path()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

void tst_StagedFile::commitReplacesTheTarget()
{
    QVERIFY(TestSupport::writeFile("Game.pak", "previous copy"));
    {
        StagedFile file("Game.pak", 0, handOver);
        QVERIFY(!file.OpenProblem());
        QVERIFY(!file.WriteProblem("new "));
        QVERIFY(!file.WriteProblem("copy"));
        // Until the commit, the previous copy is what others see.
        QCOMPARE(TestSupport::readFile("Game.pak"), QByteArray("previous copy"));
        QCOMPARE(TestSupport::readFile("Config/Download.part"), QByteArray("new copy"));
        QVERIFY(!file.CommitProblem());
    }
    QCOMPARE(TestSupport::readFile("Game.pak"), QByteArray("new copy"));
    QCOMPARE(entries(), QStringList{"Game.pak"});
}

QList<SwitchEntry> tst_StagedFile::stageRelease()
{
    const QList<SwitchEntry> release{{"Config/Staged/1.staged", "Game.pak"},
                                     {"Config/Staged/2.staged", "App/New/Level.pak"}};
    [&release] {
        QVERIFY(TestSupport::writeFile("Game.pak", "previous copy"));
        QVERIFY(TestSupport::writeFile(release.at(0).staged, "new game"));
        QVERIFY(TestSupport::writeFile(release.at(1).staged, "new level"));
    }();
    return release;
}

void tst_StagedFile::switchPutsEveryFileInPlace()
{
    const QList<SwitchEntry> release = stageRelease();
    QVERIFY(QFile::setPermissions("Game.pak", QFileDevice::ReadOwner | QFileDevice::ExeOwner
                                                  | QFileDevice::ReadUser | QFileDevice::ExeUser
                                                  | QFileDevice::ReadGroup));
    const QFileDevice::Permissions previous = QFile::permissions("Game.pak");

    const SwitchOutcome outcome = SwitchStagedFiles(release);
    QCOMPARE(int(outcome.kind), int(SwitchOutcome::Kind::Switched));
    QCOMPARE(TestSupport::readFile("Game.pak"), QByteArray("new game"));
    QCOMPARE(TestSupport::readFile("App/New/Level.pak"), QByteArray("new level"));
    QCOMPARE(outcome.stamps.size(), 2);
    QVERIFY(outcome.stamps.at(0) == ReadFileStamp("Game.pak"));
    QVERIFY(outcome.stamps.at(1) == ReadFileStamp("App/New/Level.pak"));
    // The previous copy was read-only: the new one keeps the rest, but its owner can write it.
    const QFileDevice::Permissions written = QFile::permissions("Game.pak");
    const QFileDevice::Permissions writeBits = QFileDevice::WriteOwner | QFileDevice::WriteUser
                                               | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    QVERIFY(written & QFileDevice::WriteOwner);
    QCOMPARE(written & ~writeBits, previous & ~writeBits);
    // The replaced file waits aside until it is freed; nothing else is left.
    QCOMPARE(TestSupport::readFile(ConfigFiles::ReplacedCopyPath(0)), QByteArray("previous copy"));
    RemoveReplacedCopies();
    QCOMPARE(TestSupport::filesBelow("."), QStringList({"App/New/Level.pak", "Game.pak"}));
    // Tried again, it has nothing left to do.
    QCOMPARE(int(SwitchStagedFiles(release).kind), int(SwitchOutcome::Kind::Switched));
    QCOMPARE(TestSupport::readFile("Game.pak"), QByteArray("new game"));
}

void tst_StagedFile::heldSwitchMovesNothing_data()
{
    QTest::addColumn<QString>("blocker");
    QTest::addColumn<QString>("heldPath");

    QTest::newRow("a folder at a file's path") << "folder App/New/Level.pak" << "App/New/Level.pak";
    QTest::newRow("a file at a folder's path") << "file App/New" << "App/New/Level.pak";
    // Even root cannot replace an immutable file: the nearest to a file that the game holds open
    // on Windows.
    QTest::newRow("an immutable file") << "immutable Game.pak" << "Game.pak";
}

void tst_StagedFile::heldSwitchMovesNothing()
{
    QFETCH(QString, blocker);
    QFETCH(QString, heldPath);
    const QList<SwitchEntry> release = stageRelease();
    const QString kind = blocker.section(' ', 0, 0);
    const QString path = blocker.section(' ', 1);
    if (kind == "folder")
        QVERIFY(QDir().mkpath(path));
    if (kind == "file")
        QVERIFY(TestSupport::writeFile(path, "in the way"));
    if (kind == "immutable" && QProcess::execute("chattr", {"+i", path}) != 0)
        QSKIP("This file system keeps no immutable flag");

    const SwitchOutcome outcome = SwitchStagedFiles(release);
    if (kind == "immutable")
        QProcess::execute("chattr", {"-i", path});
    QCOMPARE(int(outcome.kind), int(SwitchOutcome::Kind::Held));
    QCOMPARE(outcome.path, heldPath);
    QVERIFY(!outcome.problem.isEmpty());
    QCOMPARE(TestSupport::readFile("Game.pak"), QByteArray("previous copy"));
    QVERIFY(QFile::exists(release.at(0).staged) && QFile::exists(release.at(1).staged));
    QVERIFY(!IsSwitchPending());
}

void tst_StagedFile::interruptedSwitchIsFinished_data()
{
    QTest::addColumn<QByteArray>("journal");  // empty: the release's own
    QTest::addColumn<int>("movedBefore");     // files that the cut-off switch had moved
    QTest::addColumn<bool>("finished");

    QTest::newRow("cut off before the first move") << QByteArray() << 0 << true;
    QTest::newRow("cut off in the middle") << QByteArray() << 1 << true;
    QTest::newRow("cut off before the journal went") << QByteArray() << 2 << true;
    QTest::newRow("damaged journal") << QByteArray("UpdaterSwitch 1\nend 3\n") << 0 << false;
    QTest::newRow("a journal that names a path outside")
        << QByteArray("UpdaterSwitch 1\nConfig/Staged/1.staged\t../Game.pak\nend 1\n") << 0
        << true;
}

void tst_StagedFile::interruptedSwitchIsFinished()
{
    QFETCH(QByteArray, journal);
    QFETCH(int, movedBefore);
    QFETCH(bool, finished);
    const QList<SwitchEntry> release = stageRelease();
    if (journal.isEmpty())
        QVERIFY(!SaveSwitchJournalProblem(ConfigFiles::switchJournal, release));
    else
        QVERIFY(TestSupport::writeFile(ConfigFiles::switchJournal, journal));
    for (int index = 0; index < movedBefore; ++index) {
        QVERIFY(QDir().mkpath(QFileInfo(release.at(index).target).path()));
        QVERIFY(!MoveIntoPlaceProblem(release.at(index).staged, release.at(index).target));
    }

    FinishInterruptedSwitch();
    QCOMPARE(IsSwitchPending(), !finished);
    // The installation is one release whole: the new one where the journal could be used, and
    // nothing outside it is ever written.
    const bool bNew = finished && journal.isEmpty();
    QCOMPARE(TestSupport::readFile("Game.pak"), bNew ? "new game" : "previous copy");
    QCOMPARE(QFile::exists("App/New/Level.pak"), bNew);
    QVERIFY(!QFile::exists("../Game.pak"));
}

void tst_StagedFile::digestCoversEveryPartInOrder()
{
    // Small parts are digested as they are written, large ones on another thread.
    const QByteArrayList parts{"head", QByteArray(300 * 1024, 'a'), "middle",
                               QByteArray(100 * 1024, 'b'), "tail"};
    StagedFile file("Game.pak", 0, handOver);
    QVERIFY(!file.OpenProblem());
    for (const QByteArray &part : parts)
        QVERIFY(!file.WriteProblem(part));
    QCOMPARE(file.size(), qint64(parts.join().size()));
    QVERIFY(!file.CommitProblem());
    QCOMPARE(file.md5(), TestSupport::md5Hex(parts.join()));
}

void tst_StagedFile::newFileIsReadableByOthers()
{
    {
        StagedFile file("Game.pak", 0, handOver);
        QVERIFY(!file.OpenProblem());
        QVERIFY(!file.CommitProblem());
    }
    QVERIFY(QFile::permissions("Game.pak").testFlag(QFileDevice::ReadOther));
    QCOMPARE(entries(), QStringList{"Game.pak"});
}

void tst_StagedFile::destructionKeepsThePreviousCopy()
{
    QVERIFY(TestSupport::writeFile("Game.pak", "previous copy"));
    {
        StagedFile file("Game.pak", 0, handOver);
        QVERIFY(!file.OpenProblem());
        QVERIFY(!file.WriteProblem("half of the n"));
    }
    QCOMPARE(TestSupport::readFile("Game.pak"), QByteArray("previous copy"));
    QCOMPARE(entries(), QStringList{"Game.pak"});
}

void tst_StagedFile::failureKeepsThePreviousCopy_data()
{
    QTest::addColumn<QString>("previous"); // the file that must keep its content
    QTest::addColumn<bool>("fullDisk");

    QTest::newRow("full disk") << "Game.pak" << true;
    QTest::newRow("target is a folder") << "Game.pak/inside" << false;
}

void tst_StagedFile::failureKeepsThePreviousCopy()
{
    QFETCH(QString, previous);
    QFETCH(bool, fullDisk);
    QVERIFY(TestSupport::writeFile(previous, "previous copy"));
    if (fullDisk && !TestSupport::makeFullDiskFile("Config/Download.part"))
        QSKIP("This system has no device that refuses every write");
    {
        StagedFile file("Game.pak", 0, handOver);
        QVERIFY(!file.OpenProblem());
        QCOMPARE(file.WriteProblem("data").has_value(), fullDisk);
        const std::optional<QString> problem = file.CommitProblem();
        QVERIFY(problem && !problem->isEmpty());
    }
    QCOMPARE(TestSupport::readFile(previous), QByteArray("previous copy"));
    QVERIFY(!QFileInfo::exists("Config/Download.part"));
}

QTEST_GUILESS_MAIN(tst_StagedFile)
#include "tst_stagedfile.moc"
