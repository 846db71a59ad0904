#include "downloader/stagedfile.h"
#include "support/testsupport.h"

#include <QtTest>

class tst_StagedFile : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void commitReplacesTheTarget();
    void newFileIsReadableByOthers();
    void destructionKeepsThePreviousCopy();
    void failedWriteRefusesCommit();

private:
    QStringList entries() const;

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
    QFile::setPermissions("Game.pak", QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                          | QFileDevice::ExeOwner | QFileDevice::ReadUser
                                          | QFileDevice::WriteUser | QFileDevice::ExeUser);
    const QFileDevice::Permissions previous = QFile::permissions("Game.pak");

    {
        StagedFile file("Game.pak");
        QVERIFY(file.open());
        QCOMPARE(file.write("new "), 4);
        QCOMPARE(file.write("copy"), 4);
        // Until the commit, the previous copy is what others see.
        QCOMPARE(TestSupport::readFile("Game.pak"), QByteArray("previous copy"));
        QVERIFY(file.commit());
    }

    QCOMPARE(TestSupport::readFile("Game.pak"), QByteArray("new copy"));
    QCOMPARE(QFile::permissions("Game.pak"), previous);
    QCOMPARE(entries(), QStringList{"Game.pak"});
}

void tst_StagedFile::newFileIsReadableByOthers()
{
    {
        StagedFile file("Game.pak");
        QVERIFY(file.open());
        QVERIFY(file.commit());
    }
    QVERIFY(QFile::permissions("Game.pak").testFlag(QFileDevice::ReadOther));
    QCOMPARE(entries(), QStringList{"Game.pak"});
}

void tst_StagedFile::destructionKeepsThePreviousCopy()
{
    QVERIFY(TestSupport::writeFile("Game.pak", "previous copy"));
    {
        StagedFile file("Game.pak");
        QVERIFY(file.open());
        QCOMPARE(file.write("half of the n"), 13);
    }
    QCOMPARE(TestSupport::readFile("Game.pak"), QByteArray("previous copy"));
    QCOMPARE(entries(), QStringList{"Game.pak"});
}

void tst_StagedFile::failedWriteRefusesCommit()
{
    // Writes that cannot land (here: the folder is missing) must not end in a short file.
    StagedFile file("Missing/Game.pak");
    QVERIFY(!file.open());
    QCOMPARE(file.write("data"), qint64(-1));
    QVERIFY(!file.commit());
    QVERIFY(!file.errorString().isEmpty());
    QCOMPARE(entries(), QStringList());
}

QTEST_GUILESS_MAIN(tst_StagedFile)
#include "tst_stagedfile.moc"
