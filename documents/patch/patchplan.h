#ifndef PATCHPLAN_H
#define PATCHPLAN_H

#include "documents/installation/filehash.h"
#include "documents/patch/blocklist.h"
#include "documents/patch/contentchunks.h"

#include <QString>

#include <optional>
#include <unordered_map>
#include <vector>

// What a player's old copy of a file holds of its new version, and what must be fetched: the plain
// rules of a patch, apart from the network.

class QFile;

// Feeds length bytes of the open file from offset to chunker in large slices and finishes it; why it
// could not, if it could not, or control was cancelled.
[[nodiscard]] std::optional<QString> ChunkFileProblem(QFile *file, qint64 from, qint64 length,
                                                      ContentChunks::Chunker *chunker,
                                                      HashControl *control);

// Cuts the file at path into blocks with their digests (or, with bPieces, the given regions of it
// into pieces), reading it once in large slices; why it could not, if it could not, or control was
// cancelled.
[[nodiscard]] std::optional<QString> ScanBlocksProblem(const QString &path, HashControl *control,
                                                       std::vector<ContentChunks::Chunk> *blocks);
[[nodiscard]] std::optional<QString> ScanPiecesProblem(const QString &path,
                                                       const std::vector<ContentChunks::Chunk> &regions,
                                                       HashControl *control,
                                                       std::vector<ContentChunks::Chunk> *pieces);

// Where each chunk of the new file may be found in the old one, by digest.
using LocalChunks = std::unordered_map<ContentChunks::Digest, qint64, ContentChunks::DigestHash>;
LocalChunks IndexChunks(const std::vector<ContentChunks::Chunk> &chunks);

struct BlockMatch
{
    std::vector<qint64> localOffsets;  // for each block of the new file, where the old one holds it, or -1
    std::vector<int> missing;          // the blocks that it does not hold, in order
    qint64 missingBytes = 0;
    // The old file's blocks that the new one does not hold as they are: the edited places, whose
    // pieces the missing blocks may share.
    std::vector<ContentChunks::Chunk> unused;
};
// Matches the new file's blocks from the one at firstBlock on with the old file's.
BlockMatch MatchBlocks(const BlockList &list, int firstBlock,
                       const std::vector<ContentChunks::Chunk> &oldBlocks);

// A span of the new file that is fetched with one request.
struct ByteRange
{
    qint64 start = 0;
    qint64 end = 0;  // exclusive
    qint64 size() const { return end - start; }
};
// The spans that cover the chunks (in file order), neighbours merged into one request up to
// mostBytes each: a request costs a round trip's share and its headers, a gap of gapBytes or less
// between two chunks costs less than a request of its own.
std::vector<ByteRange> MergedRanges(const std::vector<ContentChunks::Chunk> &chunks,
                                    qint64 gapBytes, qint64 mostBytes);

#endif // PATCHPLAN_H
