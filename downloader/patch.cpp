#include "patch.h"

#include "app/runlog.h"
#include "app/updaterfiles.h"
#include "documents/installation/filestamp.h"
#include "documents/patch/knownblocks.h"
#include "downloader/networkerrors.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QNetworkRequest>
#include <QtConcurrent>

#include <algorithm>
#include <limits>

using ContentChunks::Chunk;

namespace {

// Range requests of the file in flight at once, and the most bytes that they and the ranges that
// arrived ahead of the writer may hold in memory.
constexpr int dataRequestsInFlight = 8;
constexpr qint64 bufferedBytes = 32 * 1024 * 1024;
// A request of the file takes at most this much; two pieces this close are fetched with the bytes
// between them, which cost less than the headers of a request of their own.
constexpr qint64 rangeBytes = 4 * 1024 * 1024;
constexpr qint64 rangeGapBytes = 512;
// Where the pieces to fetch lie scattered, gaps are fetched with them, wider and wider, until this
// many requests do: each costs a share of a round trip.
constexpr std::size_t mostRanges = 512;
// Piece entries fetched with one request.
constexpr qint64 pieceEntryRequestBytes = 1024 * 1024;
// The old copy's edited places are cut into pieces only up to this much: beyond it the file changed
// so much that the pieces would hardly be found.
constexpr qint64 piecesScannedBytes = 256 * 1024 * 1024;
// Bytes written before the writer lets the worker thread's other events run.
constexpr qint64 writtenAtOnce = 8 * 1024 * 1024;
// The slices in which the old copy's blocks are copied.
constexpr qint64 copyBytes = 256 * 1024;
// What an error page may bring before the patch gives up on it.
constexpr qint64 errorPageBytes = 64 * 1024;

QString Mebibytes(qint64 bytes)
{
    if (bytes < 1024 * 1024)
        return QStringLiteral("%1 KiB").arg(double(bytes) / 1024, 0, 'f', 1);
    return QStringLiteral("%1 MiB").arg(double(bytes) / (1024 * 1024), 0, 'f', 1);
}

} // namespace

Patch::Patch(const DownloadItem &item, const TransferExpectation &expected,
             const UpdaterConfig::RunSettings &settings, int slot, ServerActivity *server,
             Requester get, QObject *parent)
    : QObject(parent)
    , item(item)
    , expected(expected)
    , settings(settings)
    , stagingSlot(slot)
    , server(server)
    , get(std::move(get))
    , oldCopy(path())
{
    stallWatch.setInterval(qMax(50, settings.stallInterval / 4));
    connect(&stallWatch, &QTimer::timeout, this, &Patch::WatchStalls);
    connect(&rereading, &QFutureWatcherBase::finished, this, [this] {
        if (rereading.result()) {
            qCWarning(lcRun).noquote()
                << QStringLiteral("Cannot read what was staged for %1: making it afresh").arg(path());
            staged->Restart();
        }
        PlanBlocks();
    });
    connect(&blockScan, &QFutureWatcherBase::finished, this, [this] {
        if (const std::optional<QString> problem = blockScan.result()) {
            FetchWhole(QStringLiteral("cannot read the old copy: %1").arg(*problem));
            return;
        }
        bOldBlocksKnown = true;
        PlanBlocks();
    });
    connect(&pieceScan, &QFutureWatcherBase::finished, this, [this] {
        // Without the old copy's pieces the blocks that it lacks are fetched whole.
        if (pieceScan.result())
            oldPieces.clear();
        PlanPieces();
    });
}

Patch::~Patch()
{
    if (staged)
        Release(false);
}

void Patch::Start(const std::optional<ResumeRecord> &leftover)
{
    // Digested as it is written, on the writer's thread: the old copy's blocks are written from one
    // buffer that stays in the cache, which handing each slice to another core would not leave so.
    staged.emplace(path(), stagingSlot, std::numeric_limits<qint64>::max());
    if (leftover && !staged->ReopenProblem()) {
        bRecordWritten = true;
        rereading.setFuture(staged->Rereading());
    } else if (const std::optional<QString> problem = staged->OpenProblem()) {
        Finish({TransferOutcome::Kind::Failed,
                QStringLiteral("Cannot write %1 for %2: %3")
                    .arg(ConfigFiles::StagingPath(stagingSlot), path(), *problem),
                std::nullopt, QString(), false});
        return;
    }
    // A copy that the updater put in place is known; any other is cut while its list's head is on
    // its way.
    if (std::optional<std::vector<Chunk>> known =
            KnownBlocks::Recall(item.localMd5, QFileInfo(path()).size())) {
        oldBlocks = std::move(*known);
        bOldBlocksKnown = bOldBlocksRecalled = true;
    } else {
        qCInfo(lcRun).noquote()
            << QStringLiteral("Reading the old copy of %1 for the blocks that it holds").arg(path());
        blockScan.setFuture(QtConcurrent::run([this, localPath = path()] {
            return ScanBlocksProblem(localPath, &scanControl, &oldBlocks);
        }));
    }
    auto head = std::make_unique<Request>();
    head->kind = Request::Kind::Head;
    head->range = {0, item.blockListHead};
    Send(head.get());
    requests.push_back(std::move(head));
    stallWatch.start();
}

std::optional<ResumeRecord> Patch::Abandon()
{
    const bool bKeep = bRecordWritten && staged && staged->size() > 0;
    const ResumeRecord record{path(), expected.size, expected.md5, QByteArray()};
    Release(bKeep);
    return bKeep ? std::optional<ResumeRecord>(record) : std::nullopt;
}

bool Patch::TakeFirstChallenge(const QNetworkReply *reply)
{
    if (challenged.contains(reply))
        return false;
    challenged.insert(reply);
    return true;
}

// The requests.

void Patch::Send(Request *request)
{
    const QString serverPath = request->kind == Request::Kind::Data ? path() : item.blockList;
    request->requestedFrom = request->range.start + request->data.size();
    request->bAnswerChecked = false;
    request->discardedBytes = 0;
    QNetworkReply *reply = get(this, serverPath, {request->requestedFrom, request->range.end});
    request->reply = reply;
    request->sinceData.start();
    ++requestsSent;
    // The request may be gone by the time its reply says something: it is found again by its reply.
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] {
        if (Request *current = RequestOf(reply))
            ReadReply(current);
    });
    connect(reply, &QNetworkReply::metaDataChanged, this, [this, reply] {
        if (Request *current = RequestOf(reply))
            current->sinceData.start();
        server->Note();
        if (AnswerOf(*reply) != Answer::None)
            untakenInARow = 0;
    });
    connect(reply, &QNetworkReply::errorOccurred, this,
            [this, reply](QNetworkReply::NetworkError code) {
                // The run starts over once the password is given: the patch only waits for the
                // reply's end.
                if (code == QNetworkReply::AuthenticationRequiredError) {
                    bAwaitingPassword = true;
                    stallWatch.stop();
                }
                // A request that is asked again at once has not failed.
                if (!IsAskedAgainUntaken(*reply))
                    emit ErrorOccurred(code);
            });
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        if (Request *current = RequestOf(reply))
            ReplyFinished(current);
    });
}

bool Patch::IsAskedAgainUntaken(const QNetworkReply &reply) const
{
    return IsUntakenRequest(reply) && untakenInARow < settings.untakenRequests;
}

Patch::Request *Patch::RequestOf(const QNetworkReply *reply) const
{
    for (const std::unique_ptr<Request> &request : requests) {
        if (request->reply == reply)
            return request.get();
    }
    return nullptr;
}

void Patch::ReadReply(Request *request)
{
    QNetworkReply *reply = request->reply.data();
    request->sinceData.start();
    server->Note();
    if (!request->bAnswerChecked) {
        request->bAnswerChecked = true;
        if (const std::optional<QString> problem = AnswerProblem(request)) {
            FetchWhole(*problem);
            return;
        }
    }
    const QByteArray data = reply->readAll();
    if (AnswerOf(*reply) != Answer::File) {
        request->discardedBytes += data.size();
        if (request->discardedBytes > errorPageBytes)
            FetchWhole(QStringLiteral("the server's error page runs past %1 bytes").arg(errorPageBytes));
        return;
    }
    if (request->data.size() + data.size() > request->range.size()) {
        FetchWhole(QStringLiteral("the server sent more than the %1 bytes of a range")
                       .arg(request->range.size()));
        return;
    }
    request->data += data;
    fetchedBytes += data.size();
    unreportedBytes += data.size();
    uncountedBytes += data.size();
    emit PartWritten();
    if (request->kind == Request::Kind::Data)
        Advance();
}

std::optional<QString> Patch::AnswerProblem(Request *request)
{
    const QNetworkReply &reply = *request->reply;
    if (AnswerOf(reply) != Answer::File)
        return std::nullopt;
    const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QString asked = request->kind == Request::Kind::Data ? path() : item.blockList;
    if (status != 206) {
        return QStringLiteral("the server answered a range of %1 with status %2: it ignores ranges")
            .arg(asked)
            .arg(status);
    }
    const QByteArray encoding = reply.rawHeader("Content-Encoding").trimmed().toLower();
    if (!encoding.isEmpty() && encoding != "identity") {
        return QStringLiteral("the server answered a range of %1 encoded (%2)")
            .arg(asked, QString::fromLatin1(encoding));
    }
    const qint64 start = RangeStartOf(reply);
    if (start != request->requestedFrom) {
        return QStringLiteral("the server answered the range of %1 from byte %2 with %3")
            .arg(asked)
            .arg(request->requestedFrom)
            .arg(start < 0 ? QStringLiteral("no range") : QStringLiteral("one from byte %1").arg(start));
    }
    return std::nullopt;
}

void Patch::ReplyFinished(Request *request)
{
    QNetworkReply *reply = request->reply.data();
    if (reply->bytesAvailable() > 0) {
        // What it brings may end the patch, or make a block whose request this was.
        ReadReply(request);
        request = RequestOf(reply);
        if (!staged || !request)
            return;
    }
    if (bAwaitingPassword) {
        Finish({TransferOutcome::Kind::PasswordRequired, std::nullopt, std::nullopt, QString(), false});
        return;
    }
    const QNetworkReply::NetworkError error = reply->error();
    const Answer answer = AnswerOf(*reply);
    // An answer without a body says what it is only now.
    if (!request->bAnswerChecked && answer == Answer::File) {
        request->bAnswerChecked = true;
        if (const std::optional<QString> problem = AnswerProblem(request)) {
            FetchWhole(*problem);
            return;
        }
    }
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QString asked = request->kind == Request::Kind::Data ? path() : item.blockList;
    const bool bAskAgain = IsAskedAgainUntaken(*reply);
    const QString untaken = reply->errorString();
    request->reply = nullptr;
    reply->disconnect(this);
    reply->deleteLater();

    // A request that the server did not take is no attempt of the patch's.
    if (bAskAgain) {
        ++untakenInARow;
        qCInfo(lcRun).noquote() << QStringLiteral("Asking again for a range of %1: the server did "
                                                  "not take the request (%2)")
                                       .arg(asked, untaken);
        Send(request);
        return;
    }
    if (answer == Answer::Other || (error != QNetworkReply::NoError && !IsTransportError(error))) {
        FetchWhole(answer == Answer::Other
                       ? QStringLiteral("the server answered %1 with status %2").arg(asked).arg(status)
                       : QStringLiteral("cannot fetch %1: %2").arg(asked, NetworkErrorMessage(error)));
        return;
    }
    // A cut: the rest is asked for again.
    if (error != QNetworkReply::NoError) {
        RetryRequest(request);
        return;
    }
    // A range may come back shorter than asked, which HTTP allows; again and again, it is no way to
    // make the file.
    if (request->data.size() < request->range.size()) {
        if (++request->shortAnswers >= settings.attemptsWithoutProgress) {
            FetchWhole(QStringLiteral("the server answered a range of %1 short %2 times")
                           .arg(asked)
                           .arg(request->shortAnswers));
            return;
        }
        Send(request);
        return;
    }
    switch (request->kind) {
    case Request::Kind::Head: {
        const QByteArray head = request->data;
        RemoveRequest(request);
        ListHeadArrived(head);
        break;
    }
    case Request::Kind::Pieces:
        PieceEntriesArrived(*request);
        if (staged)
            RemoveRequest(request);
        if (staged && --pieceEntriesAwaited == 0)
            PlanPieces();
        break;
    case Request::Kind::Data:
        Advance();
        break;
    }
}

void Patch::RetryRequest(Request *request)
{
    // Attempts that bring nothing new, across all the patch's requests, count as for any transfer;
    // ranges that keep failing so leave the whole file to be fetched, which may well arrive.
    if (fetchedBytes >= fetchedAtLastRetry + settings.slowWindowBytes)
        attemptsWithoutProgress = 0;
    else
        ++attemptsWithoutProgress;
    fetchedAtLastRetry = fetchedBytes;
    if (attemptsWithoutProgress >= settings.attemptsWithoutProgress) {
        FetchWhole(QStringLiteral("%1 requests of its ranges in a row brought no new data")
                       .arg(attemptsWithoutProgress));
        return;
    }
    DropReply(request);
    Send(request);
}

void Patch::DropReply(Request *request)
{
    if (QNetworkReply *reply = request->reply.data()) {
        request->reply = nullptr;
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
}

void Patch::WatchStalls()
{
    // A request that waits for its answer is quiet only while the whole line is.
    std::vector<Request *> stalled;
    for (const std::unique_ptr<Request> &request : requests) {
        if (!request->reply && request->data.size() < request->range.size()
            && request->sinceData.isValid()) {
            // Its reply went with the connections that its Downloader replaced.
            stalled.push_back(request.get());
            continue;
        }
        if (!request->reply)
            continue;
        const bool bAnswered = AnswerOf(*request->reply) != Answer::None;
        const qint64 quiet = bAnswered ? request->sinceData.elapsed()
                                       : qMin(request->sinceData.elapsed(), server->QuietFor());
        if (quiet >= settings.stallInterval)
            stalled.push_back(request.get());
    }
    if (stalled.empty())
        return;
    emit Stalled();
    for (Request *request : stalled) {
        RetryRequest(request);
        if (!staged)
            return;
    }
}

void Patch::RemoveRequest(Request *request)
{
    DropReply(request);
    requests.erase(std::find_if(requests.begin(), requests.end(),
                                [request](const std::unique_ptr<Request> &held) {
                                    return held.get() == request;
                                }));
}

// The plan.

void Patch::ListHeadArrived(const QByteArray &head)
{
    const QString digest = QString::fromLatin1(
        QCryptographicHash::hash(head, QCryptographicHash::Sha256).toHex());
    if (digest != item.blockListSha256) {
        FetchWhole(QStringLiteral("its block list %1 is damaged: its SHA-256 digest is %2, not %3")
                       .arg(item.blockList, digest, item.blockListSha256));
        return;
    }
    BlockList read;
    if (const std::optional<QString> problem = BlockListProblem(head, &read)) {
        FetchWhole(QStringLiteral("its block list %1 cannot be used: %2").arg(item.blockList, *problem));
        return;
    }
    if (expected.size >= 0 && read.fileSize != expected.size) {
        FetchWhole(QStringLiteral("its block list %1 is of a file of %2 bytes")
                       .arg(item.blockList)
                       .arg(read.fileSize));
        return;
    }
    list = std::move(read);
    listHead = head;
    PlanBlocks();
}

void Patch::PlanBlocks()
{
    if (!staged || !list || !bOldBlocksKnown || !rereading.isFinished())
        return;
    // Once: every later arrival goes to the writer.
    if (oldCopy.isOpen())
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
    nextBlock = int(unwritten - list->blocks.cbegin());
    match = MatchBlocks(*list, nextBlock, oldBlocks);
    oldBlocks = {};
    if (match.missingBytes > list->fileSize / 2) {
        FetchWhole(QStringLiteral("%1 of its %2 are new").arg(Mebibytes(match.missingBytes),
                                                              Mebibytes(list->fileSize)));
        return;
    }
    if (!oldCopy.open(QIODevice::ReadOnly)) {
        FetchWhole(QStringLiteral("cannot read the old copy: %1").arg(oldCopy.errorString()));
        return;
    }

    // The piece entries of the blocks that the old copy lacks, a run of neighbours at a time.
    qint64 entryBytes = 0;
    for (std::size_t i = 0; i < match.missing.size();) {
        const int first = match.missing.at(i);
        int last = first;
        while (i + 1 < match.missing.size() && match.missing.at(i + 1) == last + 1
               && list->PieceEntriesEnd(last + 1) - list->PieceEntriesStart(first)
                      <= pieceEntryRequestBytes) {
            ++i;
            ++last;
        }
        ++i;
        for (int block = first; block <= last; ++block)
            missing[block];
        auto entries = std::make_unique<Request>();
        entries->kind = Request::Kind::Pieces;
        entries->range = {list->PieceEntriesStart(first), list->PieceEntriesEnd(last)};
        entries->firstBlock = first;
        entries->lastBlock = last;
        entryBytes += entries->range.size();
        Send(entries.get());
        requests.push_back(std::move(entries));
        ++pieceEntriesAwaited;
    }
    if (pieceEntriesAwaited > 0) {
        qint64 unusedBytes = 0;
        for (const Chunk &block : match.unused)
            unusedBytes += block.length;
        if (unusedBytes <= piecesScannedBytes) {
            pieceScan.setFuture(QtConcurrent::run([this, localPath = path()] {
                return ScanPiecesProblem(localPath, match.unused, &scanControl, &oldPieces);
            }));
        }
    }
    bPiecesPlanned = pieceEntriesAwaited == 0;
    emit FetchEstimated(fetchedBytes + entryBytes + match.missingBytes);
    Advance();
}

void Patch::PieceEntriesArrived(const Request &request)
{
    for (int block = request.firstBlock; block <= request.lastBlock; ++block) {
        const qint64 start = list->PieceEntriesStart(block) - request.range.start;
        const qint64 size = list->PieceEntriesEnd(block) - list->PieceEntriesStart(block);
        MissingBlock &lacking = missing[block];
        // Entries that do not hold cost only their block: it is fetched whole, and checked.
        if (PieceEntriesProblem(request.data.mid(int(start), int(size)),
                                list->blocks.at(std::size_t(block)), &lacking.pieces)) {
            lacking.pieces.clear();
            lacking.bWhole = true;
        }
    }
}

void Patch::PlanPieces()
{
    if (!staged || bPiecesPlanned || pieceEntriesAwaited > 0 || pieceScan.isRunning())
        return;
    bPiecesPlanned = true;
    const LocalChunks local = IndexChunks(oldPieces);
    oldPieces = {};
    std::vector<Chunk> fetched;
    for (auto &[index, lacking] : missing) {
        if (lacking.bWhole) {
            fetched.push_back(list->blocks.at(std::size_t(index)));
            continue;
        }
        for (const Chunk &piece : lacking.pieces) {
            const auto found = local.find(piece.digest);
            lacking.localOffsets.push_back(found == local.end() ? -1 : found->second);
            if (found == local.end())
                fetched.push_back(piece);
        }
    }
    std::vector<ByteRange> ranges = MergedRanges(fetched, rangeGapBytes, rangeBytes);
    for (qint64 gap = rangeGapBytes * 4; ranges.size() > mostRanges && gap <= rangeBytes; gap *= 4)
        ranges = MergedRanges(fetched, gap, rangeBytes);
    qint64 dataBytes = 0;
    for (const ByteRange &range : ranges) {
        rangesToRequest.push_back(range);
        dataBytes += range.size();
    }
    emit FetchEstimated(fetchedBytes + dataBytes);
    RequestData();
    Advance();
}

void Patch::RequestData()
{
    int inFlight = 0;
    qint64 held = 0;
    for (const std::unique_ptr<Request> &request : requests) {
        if (request->kind != Request::Kind::Data)
            continue;
        inFlight += request->reply ? 1 : 0;
        held += request->range.size();
    }
    while (!rangesToRequest.empty() && inFlight < dataRequestsInFlight && held < bufferedBytes) {
        auto data = std::make_unique<Request>();
        data->range = rangesToRequest.front();
        rangesToRequest.pop_front();
        held += data->range.size();
        ++inFlight;
        Send(data.get());
        requests.push_back(std::move(data));
    }
}

// The writer.

void Patch::Advance()
{
    if (!staged || !oldCopy.isOpen())
        return;
    qint64 written = 0;
    while (nextBlock < int(list->blocks.size()) && written < writtenAtOnce) {
        const Chunk &block = list->blocks.at(std::size_t(nextBlock));
        // What an earlier start staged of this block is kept.
        const qint64 from = staged->size() - block.offset;
        const qint64 own = match.localOffsets.at(std::size_t(nextBlock));
        if (own >= 0) {
            // The old copy's own blocks were digested as they were found; the whole file's digest
            // vouches for them once more before it is put in place.
            if (!CopyOld(own + from, block.length - from))
                return;
        } else {
            QByteArray bytes;
            if (!MakeBlock(nextBlock, &bytes))
                break;
            if (ContentChunks::DigestOf(bytes.constData(), bytes.size()) != block.digest) {
                BlockArrivedWrong(nextBlock);
                return;
            }
            if (!Write(bytes.mid(int(from))))
                return;
        }
        ++nextBlock;
        written += block.length - from;
        const qint64 writtenUpTo = staged->size();
        for (auto request = requests.begin(); request != requests.end();) {
            if ((*request)->kind == Request::Kind::Data && !(*request)->reply
                && (*request)->range.end <= writtenUpTo)
                request = requests.erase(request);
            else
                ++request;
        }
    }
    if (nextBlock < int(list->blocks.size()) && written >= writtenAtOnce && !bAdvanceQueued) {
        // Let the other transfers' events in; the rest follows at once.
        bAdvanceQueued = true;
        QTimer::singleShot(0, this, [this] {
            bAdvanceQueued = false;
            Advance();
        });
    }
    RequestData();
    if (nextBlock == int(list->blocks.size()))
        Complete();
}

bool Patch::CopyOld(qint64 offset, qint64 length)
{
    // A slice at a time through one buffer, which stays in the processor's cache while it is read,
    // written and digested.
    copyBuffer.resize(int(qMin(length, copyBytes)));
    for (qint64 done = 0; done < length;) {
        const qint64 slice = qMin<qint64>(copyBuffer.size(), length - done);
        copyBuffer.resize(int(slice));
        if (!ReadOld(offset + done, slice, copyBuffer.data()) || !Write(copyBuffer))
            return false;
        done += slice;
    }
    reusedBytes += length;
    return true;
}

bool Patch::Write(const QByteArray &bytes)
{
    if (const std::optional<QString> problem = staged->WriteProblem(bytes)) {
        Finish({TransferOutcome::Kind::Failed,
                QStringLiteral("Cannot write %1 for %2: %3")
                    .arg(ConfigFiles::StagingPath(stagingSlot), path(), *problem),
                std::nullopt, QString(), false});
        return false;
    }
    if (!bRecordWritten) {
        const ResumeRecord record{path(), expected.size, expected.md5, QByteArray()};
        bRecordWritten = !record.SaveProblem(ConfigFiles::ResumeRecordPath(stagingSlot));
    }
    return true;
}

bool Patch::MakeBlock(int index, QByteArray *bytes)
{
    const Chunk &block = list->blocks.at(std::size_t(index));
    bytes->resize(int(block.length));
    // Its pieces are not known yet.
    if (!bPiecesPlanned)
        return false;
    const MissingBlock &plan = missing.at(index);
    if (plan.bWhole) {
        // After a wrong arrival, only the block's own request counts.
        const char *data = Arrived(block.offset, block.length, plan.wrongArrivals > 0 ? index : -1);
        if (!data)
            return false;
        std::copy_n(data, block.length, bytes->data());
        return true;
    }
    qint64 reused = 0;
    for (std::size_t i = 0; i < plan.pieces.size(); ++i) {
        const Chunk &piece = plan.pieces.at(i);
        char *into = bytes->data() + (piece.offset - block.offset);
        if (plan.localOffsets.at(i) >= 0) {
            if (!ReadOld(plan.localOffsets.at(i), piece.length, into))
                return false;
            reused += piece.length;
            continue;
        }
        const char *data = Arrived(piece.offset, piece.length, -1);
        if (!data)
            return false;
        std::copy_n(data, piece.length, into);
    }
    reusedBytes += reused;
    return true;
}

bool Patch::ReadOld(qint64 offset, qint64 length, char *into)
{
    if (oldCopy.seek(offset) && oldCopy.read(into, length) == length)
        return true;
    // The old copy changed under the patch: the file is fetched whole rather than guessed at.
    QTimer::singleShot(0, this, [this] { FetchWhole(QStringLiteral("its old copy changed")); });
    return false;
}

const char *Patch::Arrived(qint64 offset, qint64 length, int wholeBlock) const
{
    for (const std::unique_ptr<Request> &request : requests) {
        if (request->kind == Request::Kind::Data && request->firstBlock == wholeBlock
            && request->range.start <= offset
            && request->range.start + request->data.size() >= offset + length)
            return request->data.constData() + (offset - request->range.start);
    }
    return nullptr;
}

void Patch::BlockArrivedWrong(int index)
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
    const auto own = std::find_if(requests.cbegin(), requests.cend(),
                                  [index](const std::unique_ptr<Request> &request) {
                                      return request->kind == Request::Kind::Data
                                             && request->firstBlock == index;
                                  });
    if (own != requests.cend())
        RemoveRequest(own->get());
    auto again = std::make_unique<Request>();
    again->range = {block.offset, block.offset + block.length};
    again->firstBlock = again->lastBlock = index;
    Send(again.get());
    requests.push_back(std::move(again));
    emit FetchEstimated(fetchedBytes + block.length);
}

void Patch::Complete()
{
    oldCopy.close();
    const qint64 size = staged->size();
    const QString md5 = staged->md5();
    if ((expected.size >= 0 && size != expected.size) || md5 != expected.md5) {
        // What was known of the old copy may be what went wrong: the next patch reads it.
        if (bOldBlocksRecalled)
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
        Finish({TransferOutcome::Kind::Failed,
                QStringLiteral("Cannot replace %1: %2").arg(path(), *problem), std::nullopt,
                QString(), false});
        return;
    }
    KnownBlocks::Forget(item.localMd5);
    KnownBlocks::Remember(md5, listHead);
    qCInfo(lcRun).noquote() << QStringLiteral("Patched %1: reused %2, fetched %3 in %4 requests")
                                   .arg(path(), Mebibytes(reusedBytes), Mebibytes(fetchedBytes))
                                   .arg(requestsSent);
    Finish({TransferOutcome::Kind::Committed, std::nullopt, ReadFileStamp(path()), md5, false});
}

void Patch::FetchWhole(const QString &reason)
{
    if (!staged)
        return;
    Finish({TransferOutcome::Kind::FetchWhole,
            QStringLiteral("Fetching %1 whole: %2").arg(path(), reason), std::nullopt, QString(),
            false});
}

void Patch::Finish(const TransferOutcome &outcome)
{
    Release(false);
    emit Finished(outcome);
}

void Patch::Release(bool bKeep)
{
    stallWatch.stop();
    scanControl.bCancel = true;
    blockScan.waitForFinished();
    pieceScan.waitForFinished();
    blockScan.disconnect(this);
    pieceScan.disconnect(this);
    rereading.disconnect(this);
    for (const std::unique_ptr<Request> &request : requests)
        DropReply(request.get());
    requests.clear();
    oldCopy.close();
    if (bKeep)
        staged->Keep();
    staged.reset();
    if (!bKeep)
        QFile::remove(ConfigFiles::ResumeRecordPath(stagingSlot));
}
