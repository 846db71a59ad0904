#include "downloader/staging/stagedfile.h"
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
    void newFileIsReadableByOthers();
    void digestCoversEveryPartInOrder();
    void destructionKeepsThePreviousCopy();
    void failureKeepsThePreviousCopy_data();
    void failureKeepsThePreviousCopy();

private:
    QStringList entries() const;

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
    QVERIFY(QFile::setPermissions("Game.pak", QFileDevice::ReadOwner | QFileDevice::ExeOwner
                                                  | QFileDevice::ReadUser | QFileDevice::ExeUser
                                                  | QFileDevice::ReadGroup));
    const QFileDevice::Permissions previous = QFile::permissions("Game.pak");

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
    // The previous copy was read-only: the new one keeps the rest, but its owner can write it.
    const QFileDevice::Permissions written = QFile::permissions("Game.pak");
    const QFileDevice::Permissions writeBits = QFileDevice::WriteOwner | QFileDevice::WriteUser
                                               | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    QVERIFY(written & QFileDevice::WriteOwner);
    QCOMPARE(written & ~writeBits, previous & ~writeBits);
    QCOMPARE(entries(), QStringList{"Game.pak"});
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
