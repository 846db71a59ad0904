#include "patchplanner.h"

#include <QCryptographicHash>

using ContentChunks::Chunk;

namespace {

// A request of the file takes at most this much; two pieces this close are fetched with the bytes
// between them, which cost less than the headers of a request of their own.
constexpr qint64 rangeBytes = 4 * 1024 * 1024;
constexpr qint64 rangeGapBytes = 512;
// Where the pieces to fetch lie scattered, gaps are fetched with them, wider and wider, until this
// many requests do: each costs a share of a round trip.
constexpr std::size_t mostRanges = 512;
// Piece entries fetched with one request.
constexpr qint64 pieceEntryRequestBytes = 1024 * 1024;

} // namespace

std::optional<QString> ListHeadProblem(const QByteArray &head, const DownloadItem &item,
                                       qint64 expectedSize, BlockList *list)
{
    const QString digest = QString::fromLatin1(
        QCryptographicHash::hash(head, QCryptographicHash::Sha256).toHex());
    if (digest != item.blockListSha256) {
        return QStringLiteral("its block list %1 is damaged: its SHA-256 digest is %2, not %3")
            .arg(item.blockList, digest, item.blockListSha256);
    }
    if (const std::optional<QString> problem = BlockListProblem(head, list))
        return QStringLiteral("its block list %1 cannot be used: %2").arg(item.blockList, *problem);
    if (expectedSize >= 0 && list->fileSize != expectedSize) {
        return QStringLiteral("its block list %1 is of a file of %2 bytes")
            .arg(item.blockList)
            .arg(list->fileSize);
    }
    return std::nullopt;
}

std::vector<PieceEntryRun> PatchPlanner::EntryRuns(const BlockMatch &match,
                                                   MissingBlocks *missing) const
{
    std::vector<PieceEntryRun> runs;
    for (std::size_t i = 0; i < match.missing.size();) {
        const int first = match.missing.at(i);
        int last = first;
        while (i + 1 < match.missing.size() && match.missing.at(i + 1) == last + 1
               && list.PieceEntriesEnd(last + 1) - list.PieceEntriesStart(first)
                      <= pieceEntryRequestBytes) {
            ++i;
            ++last;
        }
        ++i;
        for (int block = first; block <= last; ++block)
            (*missing)[block];
        runs.push_back({first, last, {list.PieceEntriesStart(first), list.PieceEntriesEnd(last)}});
    }
    return runs;
}

void PatchPlanner::TakeEntries(const PieceEntryRun &run, const QByteArray &entries,
                               MissingBlocks *missing) const
{
    for (int block = run.first; block <= run.last; ++block) {
        const qint64 start = list.PieceEntriesStart(block) - run.range.start;
        const qint64 size = list.PieceEntriesEnd(block) - list.PieceEntriesStart(block);
        MissingBlock &lacking = (*missing)[block];
        if (PieceEntriesProblem(entries.mid(int(start), int(size)),
                                list.blocks.at(std::size_t(block)), &lacking.pieces)) {
            lacking.pieces.clear();
            lacking.bWhole = true;
        }
    }
}

std::vector<ByteRange> PatchPlanner::Ranges(const LocalChunks &local, MissingBlocks *missing) const
{
    std::vector<Chunk> fetched;
    for (auto &[index, lacking] : *missing) {
        if (lacking.bWhole) {
            fetched.push_back(list.blocks.at(std::size_t(index)));
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
    return ranges;
}
