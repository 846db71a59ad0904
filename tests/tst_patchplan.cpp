#include "documents/patch/patchplan.h"
#include "downloader/fetch/bodyintake.h"
#include "downloader/jobs/patchchoice.h"
#include "downloader/patch/patchplanner.h"
#include "downloader/patch/patchwriter.h"
#include "support/testsupport.h"
#include "tools/publishing/blocklistwriter.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

using ContentChunks::Chunk;

class tst_PatchPlan : public QObject
{
    Q_OBJECT

private slots:
    void mergedRanges_data();
    void mergedRanges();
    void matchBlocks_data();
    void matchBlocks();
    void blockListHead_data();
    void blockListHead();
    void pieceEntries_data();
    void pieceEntries();
    void publishedListPatchesAnEditedCopy();
    void writerMakesTheFileInOrder_data();
    void writerMakesTheFileInOrder();
    void choosePatch_data();
    void choosePatch();
    void plannerGroupsAndFindsPieces();
    void listHead_data();
    void listHead();
    void bodyIntake_data();
    void bodyIntake();
};

namespace {

template <typename Numbers> QString joined(const Numbers &numbers)
{
    QStringList words;
    for (const auto number : numbers)
        words << QString::number(number);
    return words.join(' ');
}

// "A b E": blocks one after another, of 100 bytes for A, 200 for B..., each with its name's digest;
// so "b" is B edited in place.
std::vector<Chunk> blocksOf(const QString &names)
{
    std::vector<Chunk> blocks;
    for (const QString &name : names.split(' ')) {
        const qint64 offset = blocks.empty() ? 0 : blocks.back().offset + blocks.back().length;
        const QByteArray bytes = name.toUtf8();
        blocks.push_back({offset, 100 * (name.toUpper().at(0).unicode() - 'A' + 1),
                          ContentChunks::DigestOf(bytes.constData(), bytes.size()), 1});
    }
    return blocks;
}

QByteArray patched(QByteArray bytes, int at, quint64 value, int size)
{
    char le[8];
    qToLittleEndian(value, le);
    return bytes.replace(at, size, le, size);
}

// The head that the publisher writes for blocks of these lengths and piece counts.
QByteArray headOf(const QVector<QPair<qint64, int>> &blocks)
{
    std::vector<Chunk> chunks;
    qint64 size = 0;
    std::size_t pieces = 0;
    for (const auto &[length, count] : blocks) {
        chunks.push_back({size, length, {}, count});
        size += length;
        pieces += std::size_t(count);
    }
    return BlockListFormat::Write(size, chunks, std::vector<Chunk>(pieces))
        .left(int(BlockListFormat::headerBytes + BlockListFormat::blockEntryBytes * blocks.size()));
}

} // namespace

void tst_PatchPlan::mergedRanges_data()
{
    QTest::addColumn<QString>("chunks");  // offset+length, of 100-byte gaps and 1000-byte requests
    QTest::addColumn<QString>("ranges");  // start-end

    QTest::newRow("nothing") << "" << "";
    QTest::newRow("touching") << "0+10 10+10" << "0-20";
    QTest::newRow("a gap at the limit") << "0+10 110+10" << "0-120";
    QTest::newRow("a gap past the limit") << "0+10 111+10" << "0-10 111-121";
    QTest::newRow("a run up to the cap") << "0+500 500+500" << "0-1000";
    QTest::newRow("the cap splits a run") << "0+400 400+400 800+400 1200+400"
                                          << "0-800 800-1600";
    QTest::newRow("the gap counts toward the cap") << "0+500 550+500" << "0-500 550-1050";
    QTest::newRow("a chunk past the cap") << "0+10 20+2000 2030+10" << "0-10 20-2020 2030-2040";
    // Callers give file order; a chunk out of it must still be fetched, never merged backwards.
    QTest::newRow("a chunk out of order") << "100+10 0+10" << "100-110 0-10";
}

void tst_PatchPlan::mergedRanges()
{
    QFETCH(QString, chunks);
    std::vector<Chunk> given;
    for (const QString &chunk : chunks.split(' ', Qt::SkipEmptyParts)) {
        const QStringList at = chunk.split('+');
        given.push_back({at.at(0).toLongLong(), at.at(1).toLongLong()});
    }
    QStringList ranges;
    for (const ByteRange &range : MergedRanges(given, 100, 1000))
        ranges << QStringLiteral("%1-%2").arg(range.start).arg(range.end);
    QTEST(ranges.join(' '), "ranges");
}

void tst_PatchPlan::matchBlocks_data()
{
    QTest::addColumn<QString>("oldBlocks");  // of a new file "A B C D", at 0, 100, 300 and 600
    QTest::addColumn<int>("first");
    QTest::addColumn<QString>("localOffsets");
    QTest::addColumn<QString>("missing");
    QTest::addColumn<qint64>("missingBytes");
    QTest::addColumn<QString>("unused");  // their offsets in the old copy

    QTest::newRow("the same copy") << "A B C D" << 0 << "0 100 300 600" << "" << 0LL << "";
    QTest::newRow("nothing in common") << "E F" << 0 << "-1 -1 -1 -1" << "0 1 2 3" << 1000LL
                                       << "0 500";
    QTest::newRow("one block edited") << "A b C D" << 0 << "0 -1 300 600" << "1" << 200LL << "100";
    QTest::newRow("moved by an insertion") << "E A B C D" << 0 << "500 600 800 1100" << "" << 0LL
                                           << "0";
    QTest::newRow("reordered, one dropped") << "D A C" << 0 << "400 -1 500 0" << "1" << 200LL << "";
    // Resuming: the blocks already written are neither matched nor edited places of the old copy.
    QTest::newRow("from a later block") << "A B C D" << 2 << "-1 -1 300 600" << "" << 0LL << "";
    QTest::newRow("from a later block, edited") << "a b C E" << 1 << "-1 -1 300 -1" << "1 3"
                                                << 600LL << "0 100 600";
}

void tst_PatchPlan::matchBlocks()
{
    QFETCH(QString, oldBlocks);
    QFETCH(int, first);
    BlockList list;
    list.blocks = blocksOf(QStringLiteral("A B C D"));
    list.fileSize = 1000;
    const BlockMatch match = MatchBlocks(list, first, blocksOf(oldBlocks));
    QTEST(joined(match.localOffsets), "localOffsets");
    QTEST(joined(match.missing), "missing");
    QTEST(match.missingBytes, "missingBytes");
    QStringList unused;
    for (const Chunk &block : match.unused)
        unused << QString::number(block.offset);
    QTEST(unused.join(' '), "unused");
}

void tst_PatchPlan::blockListHead_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<bool>("bGood");

    // A block may pass the maximum by the piece that reaches it.
    const qint64 longest = ContentChunks::blockMaximum + ContentChunks::pieceMaximum;
    const QByteArray good = headOf({{100000, 7}, {200000, 13}, {5000, 1}});  // 21 pieces, 305000 B
    QTest::newRow("three blocks") << good << true;
    QTest::newRow("the longest block") << headOf({{longest, 65}}) << true;
    QTest::newRow("a block a byte longer") << headOf({{longest + 1, 66}}) << false;
    QTest::newRow("a block of no bytes") << headOf({{100000, 7}, {0, 0}}) << false;
    QTest::newRow("too few pieces for a block") << headOf({{100000, 6}}) << false;
    QTest::newRow("more pieces than bytes") << headOf({{10, 11}}) << false;
    QTest::newRow("nothing") << QByteArray() << false;
    QTest::newRow("a header cut short") << good.left(23) << false;
    QTest::newRow("another version") << QByteArray("UPDBLKS2") + good.mid(8) << false;
    QTest::newRow("a block entry cut short") << good.chopped(1) << false;
    QTest::newRow("a byte past the blocks") << good + '\0' << false;
    QTest::newRow("a file a byte longer") << patched(good, 8, 305001, 8) << false;
    QTest::newRow("a file size's top bit") << patched(good, 8, (1ULL << 63) + 305000, 8) << false;
    QTest::newRow("a piece more than the blocks") << patched(good, 20, 22, 4) << false;
    QTest::newRow("a block fewer than the head") << patched(good, 16, 2, 4) << false;
    // Its count must size nothing before the head is seen to hold it: 2^32 entries would not fit.
    QTest::newRow("2^32 - 1 blocks") << patched(good, 16, 0xffffffff, 4) << false;
}

void tst_PatchPlan::blockListHead()
{
    QFETCH(QByteArray, head);
    QFETCH(bool, bGood);
    BlockList list;
    const std::optional<QString> problem = BlockListProblem(head, &list);
    QVERIFY2(problem.has_value() != bGood, qPrintable(problem.value_or("none")));
}

void tst_PatchPlan::pieceEntries_data()
{
    QTest::addColumn<QString>("lengths");  // of the entries of a block of 20000 bytes at 1000
    QTest::addColumn<int>("blockPieces");
    QTest::addColumn<bool>("bGood");

    QTest::newRow("two pieces") << "12000 8000" << 2 << true;
    QTest::newRow("the longest piece") << "16384 3616" << 2 << true;
    QTest::newRow("a piece a byte longer") << "16385 3615" << 2 << false;
    QTest::newRow("a piece of no bytes") << "0 12000 8000" << 3 << false;
    QTest::newRow("short of the block") << "12000 7999" << 2 << false;
    QTest::newRow("past the block") << "12000 8001" << 2 << false;
    QTest::newRow("fewer entries than pieces") << "12000 8000" << 3 << false;
    QTest::newRow("more entries than pieces") << "12000 8000" << 1 << false;
}

void tst_PatchPlan::pieceEntries()
{
    QFETCH(QString, lengths);
    QFETCH(int, blockPieces);
    QFETCH(bool, bGood);
    std::vector<Chunk> listed, pieces;
    for (const QString &length : lengths.split(' '))
        listed.push_back({0, length.toLongLong(), {}, 0});
    listed.back().digest = {1};  // so that a digest read from the wrong place shows
    const QByteArray entries =
        BlockListFormat::Write(0, {}, listed).mid(int(BlockListFormat::headerBytes));
    const std::optional<QString> problem =
        PieceEntriesProblem(entries, Chunk{1000, 20000, {}, blockPieces}, &pieces);
    QVERIFY2(problem.has_value() != bGood, qPrintable(problem.value_or("none")));
    if (bGood) {
        QCOMPARE(pieces.size(), listed.size());
        QCOMPARE(pieces.back().offset, 1000 + listed.front().length);
        QVERIFY(pieces.back().digest == listed.back().digest);
    }
}

void tst_PatchPlan::publishedListPatchesAnEditedCopy()
{
    QTemporaryDir dir;
    QByteArray content(2 << 20, Qt::Uninitialized);
    QRandomGenerator(1).fillRange(reinterpret_cast<quint32 *>(content.data()), content.size() / 4);
    const QByteArray old = content.left(1 << 20) + content.mid((1 << 20) + 3000);
    const QString newPath = dir.filePath("new.bin"), oldPath = dir.filePath("old.bin");
    QVERIFY(TestSupport::writeFile(newPath, content) && TestSupport::writeFile(oldPath, old));
    const BlockListResult written =
        WriteBlockList(newPath, TestSupport::md5Hex(content), dir.path(), nullptr);
    QVERIFY(!written.problem);
    const QByteArray whole = TestSupport::readFile(dir.filePath(written.list.path));
    BlockList list;
    QVERIFY(!BlockListProblem(whole.left(int(written.list.headBytes)), &list));
    QCOMPARE(list.fileSize, qint64(content.size()));
    QVERIFY(list.blocks.size() > 2);
    QCOMPARE(list.PieceEntriesEnd(int(list.blocks.size()) - 1), qint64(whole.size()));

    std::vector<Chunk> oldBlocks, oldPieces, pieces;
    QVERIFY(!ScanBlocksProblem(oldPath, nullptr, &oldBlocks));
    const BlockMatch match = MatchBlocks(list, 0, oldBlocks);
    QVERIFY(!match.missing.empty() && match.missing.size() <= 2);  // the edited block, a neighbour
    QVERIFY(!ScanPiecesProblem(oldPath, match.unused, nullptr, &oldPieces));
    const LocalChunks local = IndexChunks(oldPieces);
    qint64 fetched = 0;
    for (const int i : match.missing) {
        const qint64 start = list.PieceEntriesStart(i);
        const QByteArray entries = whole.mid(int(start), int(list.PieceEntriesEnd(i) - start));
        QVERIFY(!PieceEntriesProblem(entries, list.blocks.at(std::size_t(i)), &pieces));
        for (const Chunk &piece : pieces) {
            const auto found = local.find(piece.digest);
            if (found == local.end())
                fetched += piece.length;
            else
                QCOMPARE(old.mid(int(found->second), int(piece.length)),
                         content.mid(int(piece.offset), int(piece.length)));
        }
    }
    // The 3000 bytes that the old copy lacks cost themselves and the pieces around them.
    QVERIFY2(fetched >= 3000 && fetched <= 3000 + 2 * ContentChunks::pieceMaximum,
             qPrintable(QString::number(fetched)));
}

void tst_PatchPlan::writerMakesTheFileInOrder_data()
{
    // The new file is four blocks of eight bytes, AAAAAAAA BBBBBBBB CCCCCCCC DDDDDDDD.
    QTest::addColumn<QByteArray>("oldCopy");
    QTest::addColumn<QString>("own");      // where the old copy holds each block, or -1
    QTest::addColumn<QString>("fetched");  // the blocks whose bytes have arrived
    QTest::addColumn<int>("budget");
    QTest::addColumn<qint64>("writeLimit");
    QTest::addColumn<int>("wrongBlock");   // a fetched block whose bytes arrived wrong, or -1
    QTest::addColumn<int>("pieceOffset");  // block 1 as two pieces: the first from here, or -1
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("written");

    const QByteArray file = "AAAAAAAABBBBBBBBCCCCCCCCDDDDDDDD";
    using Kind = PatchWriter::Step::Kind;
    QTest::newRow("all from the old copy") << QByteArray("BBBBBBBBAAAAAAAADDDDDDDDCCCCCCCC")
        << "8 0 24 16" << "" << 1000 << 1000LL << -1 << -1 << int(Kind::Complete) << file;
    QTest::newRow("blocks fetched") << QByteArray("CCCCCCCCAAAAAAAA") << "8 -1 0 -1" << "1 3"
        << 1000 << 1000LL << -1 << -1 << int(Kind::Complete) << file;
    QTest::newRow("waits for a block") << QByteArray("CCCCCCCCAAAAAAAA") << "8 -1 0 -1" << "3"
        << 1000 << 1000LL << -1 << -1 << int(Kind::Waiting) << file.left(8);
    QTest::newRow("a block made wrong") << QByteArray("CCCCCCCCAAAAAAAA") << "8 -1 0 -1" << "1 3"
        << 1000 << 1000LL << 1 << -1 << int(Kind::BlockWrong) << file.left(8);
    QTest::newRow("old copy shorter") << QByteArray("AAAAAAAA") << "0 -1 40 -1" << "1 3"
        << 1000 << 1000LL << -1 << -1 << int(Kind::OldCopyChanged) << file.left(16);
    QTest::newRow("paused by its budget") << QByteArray("BBBBBBBBAAAAAAAADDDDDDDDCCCCCCCC")
        << "8 0 24 16" << "" << 16 << 1000LL << -1 << -1 << int(Kind::Paused) << file.left(16);
    QTest::newRow("a write fails") << QByteArray("CCCCCCCCAAAAAAAA") << "8 -1 0 -1" << "1 3"
        << 1000 << 20LL << -1 << -1 << int(Kind::WriteFailed) << file.left(16);
    QTest::newRow("a block from an old piece") << QByteArray("xxBBBBxx") << "-1 -1 -1 -1"
        << "0 1 2 3" << 1000 << 1000LL << -1 << 2 << int(Kind::Complete) << file;
}

void tst_PatchPlan::writerMakesTheFileInOrder()
{
    QFETCH(QByteArray, oldCopy);
    QFETCH(QString, own);
    QFETCH(QString, fetched);
    QFETCH(int, budget);
    QFETCH(qint64, writeLimit);
    QFETCH(int, wrongBlock);
    QFETCH(int, pieceOffset);
    QFETCH(int, kind);
    QFETCH(QByteArray, written);

    QByteArray file = "AAAAAAAABBBBBBBBCCCCCCCCDDDDDDDD";
    BlockList list;
    list.fileSize = file.size();
    BlockMatch match;
    MissingBlocks missing;
    for (int block = 0; block < 4; ++block) {
        const char *bytes = file.constData() + 8 * block;
        list.blocks.push_back({8 * block, 8, ContentChunks::DigestOf(bytes, 8), 1});
        match.localOffsets.push_back(own.split(' ').at(block).toLongLong());
        if (match.localOffsets.back() < 0)
            missing[block].bWhole = true;
    }
    if (pieceOffset >= 0) {
        MissingBlock &pieced = missing[1];
        pieced.bWhole = false;
        pieced.pieces = {{8, 4, {}, 0}, {12, 4, {}, 0}};
        pieced.localOffsets = {pieceOffset, -1};
        file.replace(8, 4, "????");  // what arrived there is not taken
    }
    if (wrongBlock >= 0)
        file[8 * wrongBlock] = 'x';
    QBuffer old(&oldCopy);
    QVERIFY(old.open(QIODevice::ReadOnly));
    QByteArray out;
    PatchWriter writer(list, match, &old, [&](const QByteArray &bytes) -> std::optional<QString> {
        if (out.size() + bytes.size() > writeLimit)
            return QStringLiteral("disk full");
        out += bytes;
        return std::nullopt;
    }, 0, 0);
    const QStringList arrived = fetched.split(' ', Qt::SkipEmptyParts);
    const PatchWriter::Step step = writer.Advance(
        budget, missing, true, [&](qint64 offset, qint64 length, int wholeBlock) -> const char * {
            const bool bArrived = arrived.contains(QString::number(offset / 8))
                                  && (offset + length - 1) / 8 == offset / 8;
            return bArrived && wholeBlock < 0 ? file.constData() + offset : nullptr;
        });
    QCOMPARE(int(step.kind), kind);
    QCOMPARE(out, written);
    QCOMPARE(writer.Written(), qint64(written.size()));
}

void tst_PatchPlan::choosePatch_data()
{
    QTest::addColumn<QString>("oldCopy");  // "file", "empty", "folder" or "none"
    QTest::addColumn<QString>("list");     // the block list's path, empty for none
    QTest::addColumn<QString>("md5");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<bool>("bFellBack");
    QTest::addColumn<bool>("bPatch");
    QTest::addColumn<QString>("reason");  // a part of it, empty for none

    const QString md5(32, 'a');
    const QString list = "BlockLists/Game.pak.blocks";
    QTest::newRow("patched") << "file" << list << md5 << 100LL << false << true << "";
    QTest::newRow("no list") << "file" << "" << md5 << 100LL << false << false << "";
    QTest::newRow("no old copy") << "none" << list << md5 << 100LL << false << false << "";
    QTest::newRow("fell back before") << "file" << list << md5 << 100LL << true << false << "";
    QTest::newRow("a list outside the release") << "file" << "../x" << md5 << 100LL << false
        << false << "not a path below the release";
    QTest::newRow("no digest") << "file" << list << "" << 100LL << false << false << "no MD5";
    QTest::newRow("no size") << "file" << list << md5 << 0LL << false << false << "no size";
    QTest::newRow("an empty old copy") << "empty" << list << md5 << 100LL << false << false
        << "is empty";
    QTest::newRow("a folder") << "folder" << list << md5 << 100LL << false << false
        << "not a file";
}

void tst_PatchPlan::choosePatch()
{
    QFETCH(QString, oldCopy);
    QFETCH(QString, list);
    QFETCH(QString, md5);
    QFETCH(qint64, size);
    QFETCH(bool, bFellBack);
    QFETCH(bool, bPatch);
    QFETCH(QString, reason);

    QTemporaryDir dir;
    DownloadItem item;
    item.folder = dir.path() + "/";
    item.fileName = "Game.pak";
    item.blockList = list;
    item.blockListHead = BlockListFormat::headerBytes + BlockListFormat::blockEntryBytes;
    item.blockListSha256 = QString(64, 'b');
    const QString path = item.folder + item.fileName;
    if (oldCopy == "file" || oldCopy == "empty")
        QVERIFY(TestSupport::writeFile(path, oldCopy == "file" ? "old" : ""));
    if (oldCopy == "folder")
        QVERIFY(QDir().mkpath(path));
    TransferExpectation expected;
    expected.md5 = md5;
    expected.size = size;
    const PatchChoice choice = ChoosePatch(item, expected, bFellBack, 1 << 20);
    QCOMPARE(choice.bPatch, bPatch);
    QCOMPARE(choice.reason.has_value(), !reason.isEmpty());
    if (choice.reason)
        QVERIFY2(choice.reason->contains(reason), qPrintable(*choice.reason));
}

void tst_PatchPlan::plannerGroupsAndFindsPieces()
{
    // Five blocks with two pieces each; the old copy lacks blocks 1, 2 and 4.
    BlockList list;
    for (int block = 0; block < 5; ++block) {
        list.blocks.push_back({100 * block, 100, {}, 2});
        list.firstPiece.push_back(2 * block);
    }
    list.fileSize = 500;
    BlockMatch match;
    match.missing = {1, 2, 4};
    MissingBlocks missing;
    const PatchPlanner planner(list);
    const std::vector<PieceEntryRun> runs = planner.EntryRuns(match, &missing);
    // Neighbours share one request of their entries.
    QCOMPARE(int(runs.size()), 2);
    QCOMPARE(runs.at(0).first, 1);
    QCOMPARE(runs.at(0).last, 2);
    QCOMPARE(runs.at(0).range.start, list.PieceEntriesStart(1));
    QCOMPARE(runs.at(0).range.end, list.PieceEntriesEnd(2));
    QCOMPARE(runs.at(1).first, 4);
    QCOMPARE(int(missing.size()), 3);

    // Block 1's first piece is in the old copy; block 2's entries did not hold; block 4 is new.
    const auto piece = [](qint64 offset, char name) {
        return Chunk{offset, 50, ContentChunks::DigestOf(&name, 1), 0};
    };
    missing[1].pieces = {piece(100, 'a'), piece(150, 'b')};
    missing[2].bWhole = true;
    missing[4].pieces = {piece(400, 'c'), piece(450, 'd')};
    const std::vector<ByteRange> ranges = planner.Ranges(IndexChunks({piece(7, 'a')}), &missing);
    QCOMPARE(missing[1].localOffsets, std::vector<qint64>({7, -1}));
    QCOMPARE(missing[4].localOffsets, std::vector<qint64>({-1, -1}));
    // Block 1's second piece, block 2 whole and block 4: the gap of block 3 costs less than a
    // request of its own.
    QCOMPARE(int(ranges.size()), 1);
    QCOMPARE(ranges.at(0).start, 150);
    QCOMPARE(ranges.at(0).end, 500);
}

void tst_PatchPlan::listHead_data()
{
    QTest::addColumn<bool>("bDamaged");
    QTest::addColumn<qint64>("expectedSize");
    QTest::addColumn<QString>("problem");

    QTest::newRow("as listed") << false << 300LL << "";
    QTest::newRow("size unknown") << false << -1LL << "";
    QTest::newRow("damaged") << true << 300LL << "is damaged";
    QTest::newRow("of another file") << false << 301LL << "of a file of 300 bytes";
}

void tst_PatchPlan::listHead()
{
    QFETCH(bool, bDamaged);
    QFETCH(qint64, expectedSize);
    QFETCH(QString, problem);

    const QByteArray head = headOf({{100, 1}, {200, 2}});
    DownloadItem item;
    item.blockList = "BlockLists/Game.pak.blocks";
    item.blockListSha256 = QString::fromLatin1(
        QCryptographicHash::hash(bDamaged ? head + "x" : head, QCryptographicHash::Sha256).toHex());
    BlockList list;
    const std::optional<QString> found = ListHeadProblem(head, item, expectedSize, &list);
    QCOMPARE(found.value_or(QString()).contains(problem) && found.has_value(), !problem.isEmpty());
    if (!found)
        QCOMPARE(list.fileSize, 300);
}

namespace {

// A sink that holds what it takes in memory, up to a size after which its writes fail.
struct MemorySink : FetchSink
{
    QByteArray held;
    qint64 writable = 1 << 20;
    qint64 HeldBytes() const override { return held.size(); }
    void Restart() override { held.clear(); }
    void Begins(const QByteArray &) override {}
    std::optional<QString> WriteProblem(const QByteArray &bytes) override
    {
        if (held.size() + bytes.size() > writable)
            return QStringLiteral("disk full");
        held += bytes;
        return std::nullopt;
    }
};

} // namespace

void tst_PatchPlan::bodyIntake_data()
{
    QTest::addColumn<bool>("bRange");    // a range of 1000 bytes, else a file of at most 1000
    QTest::addColumn<bool>("bFile");     // else an error page, of at most 500 bytes
    QTest::addColumn<QByteArray>("encoding");
    QTest::addColumn<int>("bytes");      // taken in two halves
    QTest::addColumn<qint64>("writable");
    QTest::addColumn<int>("kind");       // the end that it makes, or -1 for none
    QTest::addColumn<int>("held");

    using Kind = FetchResult::Kind;
    QTest::newRow("a file") << false << true << QByteArray() << 1000 << (1LL << 20) << -1 << 1000;
    QTest::newRow("a file past its limit") << false << true << QByteArray() << 1001 << (1LL << 20)
        << int(Kind::Refused) << 1001;
    QTest::newRow("a range") << true << true << QByteArray() << 1000 << (1LL << 20) << -1 << 1000;
    QTest::newRow("a range past its end") << true << true << QByteArray() << 1002 << (1LL << 20)
        << int(Kind::Unusable) << 501;
    QTest::newRow("a write that fails") << false << true << QByteArray() << 1000 << 600LL
        << int(Kind::Failed) << 500;
    QTest::newRow("an error page") << false << false << QByteArray() << 500 << (1LL << 20) << -1
        << 0;
    QTest::newRow("an error page too long") << false << false << QByteArray() << 502
        << (1LL << 20) << int(Kind::Refused) << 0;
    QTest::newRow("a range's error page too long") << true << false << QByteArray() << 502
        << (1LL << 20) << int(Kind::Unusable) << 0;
    QTest::newRow("deflate") << false << true << QByteArray("deflate") << 1000 << (1LL << 20) << -1
        << 1000;
    QTest::newRow("deflate past the limit") << false << true << QByteArray("deflate") << 1001
        << (1LL << 20) << int(Kind::Refused) << 1001;
}

void tst_PatchPlan::bodyIntake()
{
    QFETCH(bool, bRange);
    QFETCH(bool, bFile);
    QFETCH(QByteArray, encoding);
    QFETCH(int, bytes);
    QFETCH(qint64, writable);
    QFETCH(int, kind);
    QFETCH(int, held);

    FetchPolicy policy;
    policy.path = "Game.pak";
    if (bRange)
        policy.range = ByteRange{5000, 6000};
    else
        policy.limit = 1000;
    policy.errorPageBytes = 500;
    MemorySink sink;
    sink.writable = writable;
    int parts = 0;
    BodyIntake intake(policy, &sink, 256, [&parts] { ++parts; });
    BodyDecoder::Choice decoder = BodyDecoder::ForEncoding(encoding);
    QVERIFY(!decoder.problem);
    intake.Begin(bFile, std::move(decoder.decoder));
    const QByteArray body = QByteArray(bytes, 'x');
    const QByteArray sent = encoding.isEmpty() ? body : qCompress(body).mid(4);
    std::optional<FetchResult> end = intake.Take(sent.left(sent.size() / 2));
    if (!end)
        end = intake.Take(sent.mid(sent.size() / 2));
    QCOMPARE(end ? int(end->kind) : -1, kind);
    QCOMPARE(int(sink.held.size()), held);
    QCOMPARE(intake.TakenBytes(), qint64(held));
    QCOMPARE(parts > 0, held > 0);
    QCOMPARE(intake.IsCutShort(), false);
}

QTEST_GUILESS_MAIN(tst_PatchPlan)
#include "tst_patchplan.moc"
