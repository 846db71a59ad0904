#ifndef BLOCKLIST_H
#define BLOCKLIST_H

#include "documents/installation/downloaditem.h"
#include "documents/patch/contentchunks.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

// The block list of a large file, which the publisher's tool serves beside the release (in
// BlockLists/, named by the file's MD5) and names in the manifest: the file's blocks and their pieces
// (ContentChunks), each with its length and digest. A player fetches its head (the header and the
// blocks) whole, checked against the SHA-256 digest that the manifest gives for it, and then only the
// piece entries of the blocks that it lacks.
//
// Little-endian throughout:
//   header  "UPDBLKS1", u64 file size, u32 blocks, u32 pieces
//   blocks  u32 length, u32 pieces, 16-byte digest       (the head ends here)
//   pieces  u32 length, 16-byte digest, block after block
namespace BlockListFormat {

inline const QByteArray magic = QByteArrayLiteral("UPDBLKS1");
constexpr qint64 headerBytes = 24;
constexpr qint64 blockEntryBytes = 24;
constexpr qint64 pieceEntryBytes = 20;
// The folder at the top of a release that holds the lists; never a file of the installation.
inline const QString folder = QStringLiteral("BlockLists");

// The whole list of a file of fileSize bytes.
QByteArray Write(qint64 fileSize, const std::vector<ContentChunks::Chunk> &blocks,
                 const std::vector<ContentChunks::Chunk> &pieces);

} // namespace BlockListFormat

// A block list's head as a player reads it.
struct BlockList
{
    qint64 fileSize = 0;
    std::vector<ContentChunks::Chunk> blocks;  // with their offsets in the file
    std::vector<qint64> firstPiece;            // each block's first entry among the pieces

    // Where the piece entries of the blocks first to last (inclusive) lie in the list file.
    qint64 PieceEntriesStart(int first) const;
    qint64 PieceEntriesEnd(int last) const;
};

// Why the block list that the manifest names for item cannot be asked for: its path is not one
// below the release, its digest no SHA-256, or its head no longer than a header or longer than
// largestHead. For an item whose manifest entry names a list.
[[nodiscard]] std::optional<QString> ListedBlockListProblem(const DownloadItem &item,
                                                            qint64 largestHead);

// Reads a list's head, which the manifest says is headBytes long; why it cannot be used, if it cannot:
// its blocks must add up to its file, and each must be as long as the chunking allows.
[[nodiscard]] std::optional<QString> BlockListProblem(const QByteArray &head, BlockList *list);

// Reads the piece entries of one block; why they cannot be right, if they cannot: their lengths must
// add up to the block's.
[[nodiscard]] std::optional<QString> PieceEntriesProblem(const QByteArray &entries,
                                                         const ContentChunks::Chunk &block,
                                                         std::vector<ContentChunks::Chunk> *pieces);

#endif // BLOCKLIST_H
