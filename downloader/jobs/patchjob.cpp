#include "patchjob.h"

#include "app/runlog.h"
#include "app/updaterfiles.h"
#include "documents/installation/filestamp.h"
#include "documents/patch/knownblocks.h"
#include "downloader/fetch/fetch.h"
#include "downloader/staging/stagedswitch.h"

#include <QTimer>

#include <algorithm>
#include <limits>

using ContentChunks::Chunk;

namespace {

// Ranges of the file in flight at once, and the most bytes that they and the ranges that arrived
// ahead of the writer may hold in memory.
constexpr int dataRequestsInFlight = 8;
constexpr qint64 bufferedBytes = 32 * 1024 * 1024;
// The old copy's edited places are cut into pieces only up to this much: beyond it the file changed
// so much that the pieces would hardly be found.
constexpr qint64 piecesScannedBytes = 256 * 1024 * 1024;
// Bytes written before the writer lets the worker thread's other events run.
constexpr qint64 writtenAtOnce = 8 * 1024 * 1024;
// What an error page may bring before the patch gives up on it.
constexpr qint64 errorPageBytes = 64 * 1024;

QString Mebibytes(qint64 bytes)
{
    if (bytes < 1024 * 1024)
        return QStringLiteral("%1 KiB").arg(double(bytes) / 1024, 0, 'f', 1);
    return QStringLiteral("%1 MiB").arg(double(bytes) / (1024 * 1024), 0, 'f', 1);
}

} // namespace

PatchJob::PatchJob(const DownloadItem &item, const TransferExpectation &expected, int slot,
                   ServerConnection *connection, const UpdaterConfig::RunSettings &settings,
                   QObject *parent)
    : Job(item.folder, item.fileName, slot, connection, settings, parent)
    , item(item)
    , expected(expected)
    , stagedCopy(StagedCopyOf(item))
    , oldCopy(path())
    , scan(path(), item.localMd5, this)
{
    connect(&rereading, &QFutureWatcherBase::finished, this, [this] {
        if (rereading.result()) {
            qCWarning(lcRun).noquote()
                << QStringLiteral("Cannot read what was staged for %1: making it afresh")
                       .arg(path());
            staged->Restart();
        }
        PlanBlocks();
    });
    connect(&scan, &OldCopyScan::BlocksKnown, this, &PatchJob::PlanBlocks);
    connect(&scan, &OldCopyScan::BlocksUnreadable, this, [this](const QString &problem) {
        FetchWhole(QStringLiteral("cannot read the old copy: %1").arg(problem));
    });
    connect(&scan, &OldCopyScan::PiecesKnown, this, &PatchJob::PlanPieces);
}

PatchJob::~PatchJob()
{
    if (staged)
        Release(false);
}

void PatchJob::Start(const std::optional<ResumeRecord> &leftover)
{
    // Digested as it is written, on the writer's thread: the old copy's blocks are written from one
    // buffer that stays in the cache, which handing each slice to another core would not leave so.
    staged.emplace(stagedCopy, slot(), std::numeric_limits<qint64>::max());
    if (leftover && !staged->ReopenProblem()) {
        bRecordWritten = true;
        rereading.setFuture(staged->Rereading());
    } else if (const std::optional<QString> problem = staged->OpenProblem()) {
        Finish(JobResult::Failed(QStringLiteral("Cannot write %1 for %2: %3")
                           .arg(ConfigFiles::StagingPath(slot()), path(), *problem)));
        return;
    }
    // A copy that the updater put in place is known; any other is cut while its list's head is on
    // its way.
    scan.Start();
    auto head = std::make_unique<PatchRange>();
    head->kind = PatchRange::Kind::Head;
    head->range = {0, item.blockListHead};
    Request(std::move(head));
}

std::optional<ResumeRecord> PatchJob::Abandon()
{
    const bool bKeep = bRecordWritten && staged && staged->size() > 0;
    const ResumeRecord record{path(), expected.size, expected.md5, QByteArray()};
    Release(bKeep);
    SetState(State::Ended);
    return bKeep ? std::optional<ResumeRecord>(record) : std::nullopt;
}

// The ranges.

void PatchJob::Request(std::unique_ptr<PatchRange> range)
{
    FetchPolicy policy;
    policy.path = range->kind == PatchRange::Kind::Data ? path() : item.blockList;
    policy.range = range->range;
    policy.errorPageBytes = errorPageBytes;
    policy.attempts = settings.attemptsWithoutProgress;
    PatchRange *added = ranges.Add(std::move(range));
    added->fetch = StartFetch(policy, added);
    if (added->kind == PatchRange::Kind::Data)
        connect(added->fetch, &Fetch::Received, this, &PatchJob::Advance);
}

void PatchJob::FetchEnded(Fetch *fetch, const FetchResult &result)
{
    PatchRange *range = ranges.OfFetch(fetch);
    if (!range)
        return;
    if (result.kind == FetchResult::Kind::PasswordRequired) {
        Finish(JobResult::PasswordRequired());
        return;
    }
    if (result.kind != FetchResult::Kind::Complete) {
        FetchWhole(result.problem.value_or(
            QStringLiteral("cannot fetch %1").arg(fetch->Policy().path)));
        return;
    }
    DropFetch(fetch);
    range->fetch = nullptr;
    switch (range->kind) {
    case PatchRange::Kind::Head: {
        const QByteArray head = range->data;
        RemoveRange(range);
        ListHeadArrived(head);
        break;
    }
    case PatchRange::Kind::Pieces:
        PatchPlanner(*list).TakeEntries(range->entries, range->data, &missing);
        RemoveRange(range);
        if (--pieceEntriesAwaited == 0)
            PlanPieces();
        break;
    case PatchRange::Kind::Data:
        Advance();
        break;
    }
}

void PatchJob::RemoveRange(const PatchRange *range)
{
    if (range->fetch)
        DropFetch(range->fetch);
    ranges.Remove(range);
}

// The plan.

void PatchJob::ListHeadArrived(const QByteArray &head)
{
    BlockList read;
    if (const std::optional<QString> problem = ListHeadProblem(head, item, expected.size, &read)) {
        FetchWhole(*problem);
        return;
    }
    list = std::move(read);
    listHead = head;
    PlanBlocks();
}

void PatchJob::PlanBlocks()
{
    if (!staged || !list || !scan.AreBlocksKnown() || !rereading.isFinished())
        return;
    // Once: every later arrival goes to the writer.
    if (writer)
        return;
    if (staged->size() > list->fileSize)
        staged->Restart();
    if (staged->size() > 0) {
        qCInfo(lcRun).noquote()
            << QStringLiteral("Resuming %1 from byte %2").arg(path()).arg(staged->size());
    }
    const auto unwritten = std::find_if(list->blocks.cbegin(), list->blocks.cend(),
                                        [written = staged->size()](const Chunk &block) {
                                            return block.offset + block.length > written;
                                        });
    const int nextBlock = int(unwritten - list->blocks.cbegin());
    match = MatchBlocks(*list, nextBlock, scan.TakeBlocks());
    if (match.missingBytes > list->fileSize / 2) {
        FetchWhole(QStringLiteral("%1 of its %2 are new").arg(Mebibytes(match.missingBytes),
                                                              Mebibytes(list->fileSize)));
        return;
    }
    if (!oldCopy.open(QIODevice::ReadOnly)) {
        FetchWhole(QStringLiteral("cannot read the old copy: %1").arg(oldCopy.errorString()));
        return;
    }
    writer.emplace(*list, match, &oldCopy,
                   [this](const QByteArray &bytes) { return WriteProblem(bytes); }, nextBlock,
                   staged->size());

    // The piece entries of the blocks that the old copy lacks, a run of neighbours at a time.
    qint64 entryBytes = 0;
    for (const PieceEntryRun &run : PatchPlanner(*list).EntryRuns(match, &missing)) {
        auto entries = std::make_unique<PatchRange>();
        entries->kind = PatchRange::Kind::Pieces;
        entries->range = run.range;
        entries->entries = run;
        entryBytes += run.range.size();
        Request(std::move(entries));
        ++pieceEntriesAwaited;
    }
    if (pieceEntriesAwaited > 0) {
        qint64 unusedBytes = 0;
        for (const Chunk &block : match.unused)
            unusedBytes += block.length;
        if (unusedBytes <= piecesScannedBytes)
            scan.ScanPieces(match.unused);
    }
    bPiecesPlanned = pieceEntriesAwaited == 0;
    SetState(State::Fetching);
    emit FetchEstimated(FetchedBytes() + entryBytes + match.missingBytes);
    Advance();
}

void PatchJob::PlanPieces()
{
    if (!staged || bPiecesPlanned || pieceEntriesAwaited > 0 || scan.IsScanningPieces())
        return;
    bPiecesPlanned = true;
    const LocalChunks local = IndexChunks(scan.TakePieces());
    qint64 dataBytes = 0;
    for (const ByteRange &range : PatchPlanner(*list).Ranges(local, &missing)) {
        rangesToRequest.push_back(range);
        dataBytes += range.size();
    }
    emit FetchEstimated(FetchedBytes() + dataBytes);
    RequestData();
    Advance();
}

void PatchJob::RequestData()
{
    int inFlight = ranges.DataInFlight();
    qint64 held = ranges.DataHeld();
    while (!rangesToRequest.empty() && inFlight < dataRequestsInFlight && held < bufferedBytes) {
        auto data = std::make_unique<PatchRange>();
        data->range = rangesToRequest.front();
        rangesToRequest.pop_front();
        held += data->range.size();
        ++inFlight;
        Request(std::move(data));
    }
}

// The writer.

void PatchJob::Advance()
{
    if (!staged || !writer)
        return;
    const PatchWriter::Step step = writer->Advance(
        writtenAtOnce, missing, bPiecesPlanned,
        [this](qint64 offset, qint64 length, int wholeBlock) {
            return ranges.Arrived(offset, length, wholeBlock);
        });
    ranges.DropWritten(writer->Written());
    switch (step.kind) {
    case PatchWriter::Step::Kind::Paused:
        if (!bAdvanceQueued) {
            // Let the other transfers' events in; the rest follows at once.
            bAdvanceQueued = true;
            QTimer::singleShot(0, this, [this] {
                bAdvanceQueued = false;
                Advance();
            });
        }
        RequestData();
        return;
    case PatchWriter::Step::Kind::Waiting:
        RequestData();
        return;
    case PatchWriter::Step::Kind::Complete:
        Complete();
        return;
    case PatchWriter::Step::Kind::BlockWrong:
        BlockArrivedWrong(step.block);
        return;
    case PatchWriter::Step::Kind::OldCopyChanged:
        // The old copy changed under the patch: the file is fetched whole rather than guessed at.
        QTimer::singleShot(0, this, [this] { FetchWhole(QStringLiteral("its old copy changed")); });
        return;
    case PatchWriter::Step::Kind::WriteFailed:
        Finish(JobResult::Failed(QStringLiteral("Cannot write %1 for %2: %3")
                           .arg(ConfigFiles::StagingPath(slot()), path(), *step.problem)));
        return;
    }
}

std::optional<QString> PatchJob::WriteProblem(const QByteArray &bytes)
{
    if (std::optional<QString> problem = staged->WriteProblem(bytes))
        return problem;
    if (!bRecordWritten) {
        const ResumeRecord record{path(), expected.size, expected.md5, QByteArray()};
        bRecordWritten = !record.SaveProblem(ConfigFiles::ResumeRecordPath(slot()));
    }
    return std::nullopt;
}

void PatchJob::BlockArrivedWrong(int index)
{
    MissingBlock &lacking = missing[index];
    const Chunk &block = list->blocks.at(std::size_t(index));
    // A server that sends the same block wrong again and again may still send the file right.
    if (++lacking.wrongArrivals >= settings.attemptsWithoutProgress) {
        FetchWhole(QStringLiteral("its block at byte %1 arrived wrong %2 times")
                       .arg(block.offset)
                       .arg(lacking.wrongArrivals));
        return;
    }
    qCWarning(lcRun).noquote()
        << QStringLiteral("%1: the block at byte %2 arrived wrong; fetching it again")
               .arg(path())
               .arg(block.offset);
    lacking.bWhole = true;
    if (const PatchRange *own = ranges.OfWholeBlock(index))
        RemoveRange(own);
    auto again = std::make_unique<PatchRange>();
    again->range = {block.offset, block.offset + block.length};
    again->wholeBlock = index;
    Request(std::move(again));
    emit FetchEstimated(FetchedBytes() + block.length);
}

void PatchJob::Complete()
{
    oldCopy.close();
    const qint64 size = staged->size();
    const QString md5 = staged->md5();
    if ((expected.size >= 0 && size != expected.size) || md5 != expected.md5) {
        // What was known of the old copy may be what went wrong: the next patch reads it.
        if (scan.AreBlocksRecalled())
            KnownBlocks::Forget(item.localMd5);
        // Every block held to its list: the list is not the manifest's file.
        FetchWhole(QStringLiteral("expected %1 bytes with MD5 %2, made %3 bytes with MD5 %4")
                       .arg(expected.size)
                       .arg(expected.md5)
                       .arg(size)
                       .arg(md5));
        return;
    }
    if (const std::optional<QString> problem = staged->CommitProblem()) {
        Finish(JobResult::Failed(
            QStringLiteral("Cannot move %1 to %2: %3").arg(path(), stagedCopy, *problem)));
        return;
    }
    KnownBlocks::Forget(item.localMd5);
    KnownBlocks::Remember(md5, listHead);
    qCInfo(lcRun).noquote() << QStringLiteral("Patched %1: reused %2, fetched %3 in %4 requests")
                                   .arg(path(), Mebibytes(writer->ReusedBytes()),
                                        Mebibytes(FetchedBytes()))
                                   .arg(RequestsSent());
    Finish(JobResult::Committed(ReadFileStamp(stagedCopy), md5, true));
}

void PatchJob::FetchWhole(const QString &reason)
{
    if (!staged)
        return;
    Finish(JobResult::FetchWhole(QStringLiteral("Fetching %1 whole: %2").arg(path(), reason)));
}

void PatchJob::Finish(const JobResult &result)
{
    Release(false);
    Report(result);
}

void PatchJob::Release(bool bKeep)
{
    scan.Cancel();
    rereading.disconnect(this);
    DropFetches();
    ranges.Clear();
    writer.reset();
    oldCopy.close();
    if (bKeep)
        staged->Keep();
    staged.reset();
    if (!bKeep)
        QFile::remove(ConfigFiles::ResumeRecordPath(slot()));
}
