#include "documents/installation/filehash.h"
#include "documents/patch/contentchunks.h"
#include "support/testsupport.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

using TestSupport::md5Hex;
using TestSupport::writeFile;

class tst_FileHash : public QObject
{
    Q_OBJECT

private slots:
    void fileMd5_data();
    void fileMd5();
    void fileMd5OfWhatCannotBeRead();
    void md5OfFilesKeepsIndexOrder();
    void cancelledPassEndsPromptly();
    void cancelledControlHashesNothing();
    void blocksSurviveAnEdit_data();
    void blocksSurviveAnEdit();

private:
    QTemporaryDir dir;
};

namespace {

QByteArray randomBytes(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(size);
    for (char &byte : bytes)
        byte = char(generator.bounded(256));
    return bytes;
}

// The digests, and an empty string for each file that has none.
QStringList digestsOf(const QVector<FileDigest> &digests)
{
    QStringList found;
    for (const FileDigest &digest : digests)
        found << (digest.problem ? QString() : digest.md5);
    return found;
}

} // namespace

void tst_FileHash::fileMd5_data()
{
    QTest::addColumn<QByteArray>("content");

    QTest::newRow("empty file") << QByteArray();
    QTest::newRow("three bytes") << QByteArray("abc");
    // The file is read in chunks of one MiB: the cases around the edges of a chunk.
    QTest::newRow("one byte short of a chunk") << randomBytes((1 << 20) - 1);
    QTest::newRow("exactly a chunk") << randomBytes(1 << 20);
    QTest::newRow("one byte past a chunk") << randomBytes((1 << 20) + 1);
    QTest::newRow("several chunks and a tail") << randomBytes(3 * (1 << 20) + 17);
}

void tst_FileHash::fileMd5()
{
    QFETCH(QByteArray, content);
    const QString path = dir.filePath(QStringLiteral("file.bin"));
    QVERIFY(writeFile(path, content));

    HashControl control;
    QFile file(path);
    const FileDigest digest = FileMd5(&file, &control);
    QCOMPARE(digest.md5, md5Hex(content));
    QCOMPARE(digest.md5.size(), 32);
    QVERIFY(!file.isOpen());
    QCOMPARE(control.bytesHashed.load(), qint64(content.size()));
}

void tst_FileHash::fileMd5OfWhatCannotBeRead()
{
    // Tests run as root, who reads every file whatever its mode: a folder with the file's name is
    // what exists and still cannot be read.
    const QString folder = dir.filePath(QStringLiteral("a folder.pak"));
    QVERIFY(QDir().mkpath(folder));
    QFile folderFile(folder);
    QVERIFY(folderFile.exists());
    QCOMPARE(FileMd5(&folderFile).md5, QString());

    QFile missing(dir.filePath(QStringLiteral("missing.pak")));
    QCOMPARE(FileMd5(&missing).md5, QString());

#ifdef Q_OS_UNIX
    // Opening a FIFO would wait for a writer that never comes.
    const QString fifo = dir.filePath(QStringLiteral("fifo.pak"));
    QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QFile fifoFile(fifo);
    QCOMPARE(FileMd5(&fifoFile).md5, QString());
#endif
}

void tst_FileHash::md5OfFilesKeepsIndexOrder()
{
    // More files than threads, in no order of size, with holes that cannot be read.
    QStringList paths;
    QStringList expected;
    for (int i = 0; i < 12; ++i) {
        const QString path = dir.filePath(QStringLiteral("many/%1.bin").arg(i));
        paths << path;
        if (i == 4) {
            expected << QString();
            continue;
        }
        const QByteArray content = randomBytes((i * 7919) % 50000 + i);
        QVERIFY(writeFile(path, content));
        expected << md5Hex(content);
    }
    paths << dir.filePath(QStringLiteral("many"));
    expected << QString();

    HashControl control;
    QCOMPARE(digestsOf(Md5OfFiles(paths, &control).result()), expected);
    QCOMPARE(control.bytesHashed.load(), control.bytesToHash.load());
}

void tst_FileHash::cancelledPassEndsPromptly()
{
    // Hashing all of this would take most of a minute.
    const qint64 size = qint64(8) << 30;
    const QString big = dir.filePath(QStringLiteral("big.pak"));
    QVERIFY(TestSupport::makeSparseFile(big, size));

    HashControl control;
    QFuture<QVector<FileDigest>> pass = Md5OfFiles({big}, &control);
    QTRY_VERIFY(control.bytesHashed > 0);
    QCOMPARE(control.bytesToHash.load(), size);

    QElapsedTimer sinceCancel;
    sinceCancel.start();
    control.bCancel = true;
    pass.waitForFinished();
    QVERIFY2(sinceCancel.elapsed() < 1000, qPrintable(QString::number(sinceCancel.elapsed())));
    QCOMPARE(digestsOf(pass.result()), QStringList{QString()});
    QVERIFY(control.bytesHashed < size);
}

void tst_FileHash::cancelledControlHashesNothing()
{
    const QString path = dir.filePath(QStringLiteral("small.bin"));
    QVERIFY(writeFile(path, "content"));
    HashControl control;
    control.bCancel = true;
    QCOMPARE(digestsOf(Md5OfFiles({path, path}, &control).result()),
             (QStringList{QString(), QString()}));
    QCOMPARE(control.bytesHashed.load(), qint64(0));
}

QTEST_GUILESS_MAIN(tst_FileHash)
void tst_FileHash::blocksSurviveAnEdit_data()
{
    QTest::addColumn<int>("at");
    QTest::addColumn<int>("removed");
    QTest::addColumn<QByteArray>("inserted");
    QTest::newRow("a byte inserted") << 3000000 << 0 << QByteArray("x");
    QTest::newRow("100 KB inserted") << 3000000 << 0 << QByteArray(100000, 'x');
    QTest::newRow("100 KB deleted") << 3000000 << 100000 << QByteArray();
    QTest::newRow("overwritten") << 3000000 << 5000 << QByteArray(5000, 'x');
    QTest::newRow("at the start") << 0 << 0 << QByteArray("x");
}

void tst_FileHash::blocksSurviveAnEdit()
{
    QFETCH(int, at);
    QFETCH(int, removed);
    QFETCH(QByteArray, inserted);
    QByteArray old(6000000, Qt::Uninitialized);
    QRandomGenerator(11).fillRange(reinterpret_cast<quint32 *>(old.data()), old.size() / 4);
    QByteArray edited = old;
    edited.replace(at, removed, inserted);
    using ContentChunks::Chunk;
    using ContentChunks::Chunker;
    // The old file comes in odd slices, which must not change where it is cut.
    Chunker before(Chunker::BlockDigests | Chunker::PieceDigests);
    for (int offset = 0; offset < old.size(); offset += 77777)
        before.Add(old.constData() + offset, qMin(77777, old.size() - offset));
    before.Finish();
    Chunker after(Chunker::BlockDigests | Chunker::PieceDigests);
    after.Add(edited.constData(), edited.size());
    after.Finish();

    // Only the chunks around the edit are new: a block or two, the pieces that it touches.
    const auto newBytes = [](const std::vector<Chunk> &was, const std::vector<Chunk> &is) {
        qint64 bytes = 0;
        for (const Chunk &chunk : is) {
            if (std::none_of(was.cbegin(), was.cend(),
                             [&chunk](const Chunk &old) { return old.digest == chunk.digest; }))
                bytes += chunk.length;
        }
        return bytes;
    };
    QVERIFY(newBytes(before.Blocks(), after.Blocks()) <= 2 * ContentChunks::blockMaximum);
    QVERIFY(newBytes(before.Pieces(), after.Pieces())
            <= inserted.size() + 2 * ContentChunks::pieceMaximum);
    QCOMPARE(after.Blocks().back().offset + after.Blocks().back().length, qint64(edited.size()));
}

#include "tst_filehash.moc"
