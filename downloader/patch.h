#ifndef PATCH_H
#define PATCH_H

#include "documents/installation/downloaditem.h"
#include "documents/installation/filehash.h"
#include "documents/patch/blocklist.h"
#include "documents/patch/patchplan.h"
#include "downloader/resumerecord.h"
#include "downloader/serveractivity.h"
#include "downloader/stagedfile.h"
#include "downloader/transfer.h"
#include "updaterconfig.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFutureWatcher>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QTimer>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

// One large file that the player has an older copy of, made new from that copy and the blocks that
// it lacks. Its block list's head comes first, while the old copy's blocks are recalled (where the
// updater put that copy in place) or cut on the thread pool; the blocks that the old copy lacks are
// then cut into pieces, on both sides, and only the pieces that it lacks are fetched, neighbours
// merged into one range request each, several at once. The new file is written in order into a
// staging file, every block that is not the old copy's own checked against its digest as it is
// made, and put in place only with the size and MD5 digest that the manifest lists, like any
// download.
//
// Whatever keeps a patch from being made (no block list that holds, a server that ignores ranges,
// answers them short again and again or never, blocks that keep arriving wrong, a file that changed
// too much to be worth it) ends it with FetchWhole: its Downloader then fetches the file whole, as it
// would without a list. A block that arrives wrong is fetched again whole, and stalled, cut or short
// requests are asked again for their rest, under the attempt limits of any transfer.
class Patch : public QObject
{
    Q_OBJECT

public:
    // Sends a GET for the range of the file at serverPath (below the release), for origin.
    using Requester = std::function<QNetworkReply *(QObject *origin, const QString &serverPath,
                                                    const ByteRange &range)>;

    Patch(const DownloadItem &item, const TransferExpectation &expected,
          const UpdaterConfig::RunSettings &settings, int slot, ServerActivity *server,
          Requester get, QObject *parent);
    ~Patch() override;

    QString folder() const { return item.folder; }
    QString file() const { return item.fileName; }
    QString path() const { return item.folder + item.fileName; }
    int slot() const { return stagingSlot; }

    // Starts, with what an earlier transfer of the file staged: it is kept, and the rest made.
    void Start(const std::optional<ResumeRecord> &leftover);
    // Lets go without a report; what was staged is kept for the next transfer of the file.
    [[nodiscard]] std::optional<ResumeRecord> Abandon();

    bool IsAwaitingPassword() const { return bAwaitingPassword; }
    // Whether this is the first demand for the password for reply: a second means it was wrong.
    [[nodiscard]] bool TakeFirstChallenge(const QNetworkReply *reply);
    // The bytes fetched since the last call: for the byte reports, and for the speed.
    qint64 TakeUnreportedBytes() { return std::exchange(unreportedBytes, 0); }
    qint64 TakeUncountedBytes() { return std::exchange(uncountedBytes, 0); }
    // Everything fetched so far: the block list's parts and the file's.
    qint64 FetchedBytes() const { return fetchedBytes; }

signals:
    void PartWritten();
    void ErrorOccurred(QNetworkReply::NetworkError code);
    // A request has brought nothing for the stall interval; it is asked again after this.
    void Stalled();
    // The patch now expects to fetch this many bytes of the file in all, in place of its size.
    void FetchEstimated(qint64 bytes);
    void Finished(TransferOutcome outcome);

private:
    // One request of the patch: the list's head, piece entries of the list, or a range of the file.
    struct Request
    {
        enum class Kind { Head, Pieces, Data };
        Kind kind = Kind::Data;
        ByteRange range;
        QByteArray data;  // what has arrived, from range.start on
        QPointer<QNetworkReply> reply;
        qint64 requestedFrom = 0;  // the first byte that the current reply was asked for
        QElapsedTimer sinceData;
        bool bAnswerChecked = false;
        qint64 discardedBytes = 0;  // of an error page
        int shortAnswers = 0;  // answers that brought less than the rest of the range
        int firstBlock = -1;  // the blocks whose piece entries it holds, or the block it fetches whole
        int lastBlock = -1;
    };
    // A block that the old copy lacks: its pieces, and where the old copy holds each (or -1).
    struct MissingBlock
    {
        std::vector<ContentChunks::Chunk> pieces;
        std::vector<qint64> localOffsets;
        bool bWhole = false;  // fetched whole: its pieces are unknown, or made it wrong
        int wrongArrivals = 0;
    };

    void Send(Request *request);
    // The request whose reply this is, if the patch still has it.
    Request *RequestOf(const QNetworkReply *reply) const;
    // The server did not take the request of reply, which is asked again without counting as an
    // attempt.
    bool IsAskedAgainUntaken(const QNetworkReply &reply) const;
    void ReadReply(Request *request);
    void ReplyFinished(Request *request);
    // Why the answer cannot be taken as the range asked for; a reason to fetch the file whole.
    [[nodiscard]] std::optional<QString> AnswerProblem(Request *request);
    void RetryRequest(Request *request);
    // Lets go of the request's reply, if it has one, which says nothing more.
    void DropReply(Request *request);
    void WatchStalls();
    void RemoveRequest(Request *request);

    void ListHeadArrived(const QByteArray &head);
    void PieceEntriesArrived(const Request &request);
    void PlanBlocks();
    void PlanPieces();
    void RequestData();
    void EstimateFetch();
    // Writes the blocks that can be made, in order; then commits the file once all are.
    void Advance();
    // The bytes of a block that the old copy lacks, made from its pieces there and what was
    // fetched; false while some of them have not arrived.
    bool MakeBlock(int index, QByteArray *bytes);
    // Write to the staging file; false once the patch has ended for it.
    bool CopyOld(qint64 offset, qint64 length);
    bool Write(const QByteArray &bytes);
    [[nodiscard]] bool ReadOld(qint64 offset, qint64 length, char *into);
    // The bytes from offset on, where a request of the file has brought length of them: one of the
    // planned ranges, or with wholeBlock, that block's own request.
    const char *Arrived(qint64 offset, qint64 length, int wholeBlock) const;
    void BlockArrivedWrong(int index);
    void Complete();
    void FetchWhole(const QString &reason);
    void Finish(const TransferOutcome &outcome);
    void Release(bool bKeep);

    const DownloadItem item;
    const TransferExpectation expected;
    const UpdaterConfig::RunSettings settings;
    const int stagingSlot;
    ServerActivity *const server;
    const Requester get;

    std::optional<StagedFile> staged;
    bool bRecordWritten = false;
    QFile oldCopy;
    HashControl scanControl;
    QFutureWatcher<std::optional<QString>> rereading;
    QFutureWatcher<std::optional<QString>> blockScan;
    QFutureWatcher<std::optional<QString>> pieceScan;
    std::vector<ContentChunks::Chunk> oldBlocks;
    bool bOldBlocksKnown = false;
    bool bOldBlocksRecalled = false;  // from what the updater knew of the old copy, unread
    std::vector<ContentChunks::Chunk> oldPieces;

    QByteArray listHead;
    std::optional<BlockList> list;
    BlockMatch match;
    std::map<int, MissingBlock> missing;  // by block
    int pieceEntriesAwaited = 0;
    bool bPiecesPlanned = false;

    std::vector<std::unique_ptr<Request>> requests;  // in flight, or holding data not yet written
    std::deque<ByteRange> rangesToRequest;
    QTimer stallWatch;
    int attemptsWithoutProgress = 0;
    qint64 fetchedAtLastRetry = 0;
    int untakenInARow = 0;  // requests that the server did not take since its last answer

    int nextBlock = 0;
    bool bAdvanceQueued = false;
    QByteArray copyBuffer;
    qint64 reusedBytes = 0;
    qint64 fetchedBytes = 0;
    int requestsSent = 0;
    qint64 unreportedBytes = 0;
    qint64 uncountedBytes = 0;
    QSet<const QNetworkReply *> challenged;
    bool bAwaitingPassword = false;
};

#endif // PATCH_H
