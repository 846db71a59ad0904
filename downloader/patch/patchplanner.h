#ifndef PATCHPLANNER_H
#define PATCHPLANNER_H

#include "documents/installation/downloaditem.h"
#include "documents/patch/blocklist.h"
#include "documents/patch/patchplan.h"

#include <QByteArray>

#include <map>
#include <optional>
#include <vector>

// Reads the head of item's block list, of a file of expectedSize bytes (-1 if unknown); why it
// cannot be used for a patch, if it cannot.
[[nodiscard]] std::optional<QString> ListHeadProblem(const QByteArray &head,
                                                     const DownloadItem &item, qint64 expectedSize,
                                                     BlockList *list);

// A block of the new file that the old copy lacks: its pieces, and where the old copy holds each
// (or -1).
struct MissingBlock
{
    std::vector<ContentChunks::Chunk> pieces;
    std::vector<qint64> localOffsets;
    bool bWhole = false;  // fetched whole: its pieces are unknown, or made it wrong
    int wrongArrivals = 0;
};
using MissingBlocks = std::map<int, MissingBlock>;  // by block

// The piece entries of a run of neighbouring missing blocks, first to last, fetched with one
// request.
struct PieceEntryRun
{
    int first = 0;
    int last = 0;
    ByteRange range;  // in the block list file
};

// What a patch fetches, planned from the new file's block list and what the old copy holds: which
// blocks it lacks, the requests of their piece entries, and the ranges of the file that hold the
// pieces it lacks, neighbours merged.
class PatchPlanner
{
public:
    explicit PatchPlanner(const BlockList &list) : list(list) {}

    // The blocks that the old copy lacks, as MatchBlocks finds them, grouped into runs whose piece
    // entries are fetched together; each missing block gets its (empty) entry in missing.
    std::vector<PieceEntryRun> EntryRuns(const BlockMatch &match, MissingBlocks *missing) const;
    // Takes the piece entries that arrived for run: a block whose entries do not hold is fetched
    // whole, which costs only that block.
    void TakeEntries(const PieceEntryRun &run, const QByteArray &entries,
                     MissingBlocks *missing) const;
    // Finds each missing piece in the old copy's pieces (local) and returns the ranges that cover
    // those it lacks, gaps between them fetched along where that saves requests.
    std::vector<ByteRange> Ranges(const LocalChunks &local, MissingBlocks *missing) const;

private:
    const BlockList &list;
};

#endif // PATCHPLANNER_H
