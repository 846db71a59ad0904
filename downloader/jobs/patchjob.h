#ifndef PATCHJOB_H
#define PATCHJOB_H

#include "documents/installation/downloaditem.h"
#include "documents/patch/blocklist.h"
#include "documents/patch/patchplan.h"
#include "downloader/jobs/expectation.h"
#include "downloader/jobs/job.h"
#include "downloader/patch/oldcopyscan.h"
#include "downloader/patch/patchplanner.h"
#include "downloader/patch/patchranges.h"
#include "downloader/patch/patchwriter.h"
#include "downloader/staging/stagedfile.h"

#include <QFile>
#include <QFutureWatcher>

#include <deque>
#include <memory>
#include <optional>

// One large file that the player has an older copy of, made new from that copy and the blocks that
// it lacks. Its block list's head comes first, while the old copy's blocks are recalled (where the
// updater put that copy in place) or cut on the thread pool; the blocks that the old copy lacks are
// then cut into pieces, on both sides, and only the pieces that it lacks are fetched, neighbours
// merged into one range each, several at once. The PatchWriter writes the new file in order into
// the staging file, and it is staged for the switch only with the size and MD5 digest that the
// manifest lists, like any download.
//
// Whatever keeps a patch from being made (no block list that holds, a server that ignores ranges,
// answers them short again and again or never, blocks that keep arriving wrong, a file that changed
// too much to be worth it) ends it with FetchWhole: the Downloader then fetches the file whole, as
// it would without a list. A block that arrives wrong is fetched again whole.
class PatchJob : public Job
{
    Q_OBJECT

public:
    PatchJob(const DownloadItem &item, const TransferExpectation &expected, int slot,
             ServerConnection *connection, const UpdaterConfig::RunSettings &settings,
             QObject *parent);
    ~PatchJob() override;

    // What an earlier transfer of the file staged is kept, and the rest made.
    void Start(const std::optional<ResumeRecord> &leftover) override;
    [[nodiscard]] std::optional<ResumeRecord> Abandon() override;
    // Everything fetched so far: the block list's parts and the file's.
    qint64 FetchedBytes() const { return TakenBytes(); }

private:
    void Request(std::unique_ptr<PatchRange> range);
    void FetchEnded(Fetch *fetch, const FetchResult &result) override;
    void RemoveRange(const PatchRange *range);

    void ListHeadArrived(const QByteArray &head);
    void PlanBlocks();
    void PlanPieces();
    void RequestData();
    // Writes the blocks that can be made, in order; then commits the file once all are.
    void Advance();
    void BlockArrivedWrong(int index);
    [[nodiscard]] std::optional<QString> WriteProblem(const QByteArray &bytes);
    void Complete();
    void FetchWhole(const QString &reason);
    void Finish(const JobResult &result);
    void Release(bool bKeep);

    const DownloadItem item;
    const TransferExpectation expected;
    const QString stagedCopy;  // where the made file waits for the switch

    std::optional<StagedFile> staged;
    bool bRecordWritten = false;
    QFile oldCopy;
    OldCopyScan scan;
    QFutureWatcher<std::optional<QString>> rereading;

    QByteArray listHead;
    std::optional<BlockList> list;
    BlockMatch match;
    MissingBlocks missing;
    int pieceEntriesAwaited = 0;
    bool bPiecesPlanned = false;
    std::optional<PatchWriter> writer;
    bool bAdvanceQueued = false;

    PatchRanges ranges;
    std::deque<ByteRange> rangesToRequest;
};

#endif // PATCHJOB_H
