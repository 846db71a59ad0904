#include "blocklist.h"

#include "documents/installation/manifestpath.h"

#include <QRegularExpression>
#include <QtEndian>

#include <cstring>

using ContentChunks::Chunk;

namespace {

void AppendNumber(QByteArray *out, quint64 value, int bytes)
{
    char le[8];
    qToLittleEndian(value, le);
    out->append(le, bytes);
}

void AppendDigest(QByteArray *out, const ContentChunks::Digest &digest)
{
    out->append(reinterpret_cast<const char *>(digest.data()), int(digest.size()));
}

quint32 Number32(const char *at)
{
    return qFromLittleEndian<quint32>(at);
}

ContentChunks::Digest DigestAt(const char *at)
{
    ContentChunks::Digest digest;
    std::memcpy(digest.data(), at, digest.size());
    return digest;
}

// A block may pass the maximum by the piece that reaches it.
constexpr qint64 longestBlock = ContentChunks::blockMaximum + ContentChunks::pieceMaximum;

} // namespace

QByteArray BlockListFormat::Write(qint64 fileSize, const std::vector<Chunk> &blocks,
                                  const std::vector<Chunk> &pieces)
{
    QByteArray out = magic;
    out.reserve(int(headerBytes + blockEntryBytes * qint64(blocks.size())
                    + pieceEntryBytes * qint64(pieces.size())));
    AppendNumber(&out, quint64(fileSize), 8);
    AppendNumber(&out, blocks.size(), 4);
    AppendNumber(&out, pieces.size(), 4);
    for (const Chunk &block : blocks) {
        AppendNumber(&out, quint64(block.length), 4);
        AppendNumber(&out, quint64(block.pieces), 4);
        AppendDigest(&out, block.digest);
    }
    for (const Chunk &piece : pieces) {
        AppendNumber(&out, quint64(piece.length), 4);
        AppendDigest(&out, piece.digest);
    }
    return out;
}

qint64 BlockList::PieceEntriesStart(int first) const
{
    return BlockListFormat::headerBytes + BlockListFormat::blockEntryBytes * qint64(blocks.size())
           + BlockListFormat::pieceEntryBytes * firstPiece.at(first);
}

qint64 BlockList::PieceEntriesEnd(int last) const
{
    return PieceEntriesStart(last) + BlockListFormat::pieceEntryBytes * blocks.at(last).pieces;
}

std::optional<QString> ListedBlockListProblem(const DownloadItem &item, qint64 largestHead)
{
    static const QRegularExpression sha256(QStringLiteral("^[0-9a-f]{64}$"));
    if (!IsSafeManifestPath(item.blockList))
        return QStringLiteral("its block list %1 is not a path below the release")
            .arg(item.blockList);
    if (!sha256.match(item.blockListSha256).hasMatch()) {
        return QStringLiteral("its block list's digest \"%1\" is not a SHA-256 digest")
            .arg(item.blockListSha256.left(80));
    }
    if (item.blockListHead <= BlockListFormat::headerBytes || item.blockListHead > largestHead) {
        return QStringLiteral("its block list's head of %1 bytes is not between %2 and %3 bytes")
            .arg(item.blockListHead)
            .arg(BlockListFormat::headerBytes + 1)
            .arg(largestHead);
    }
    return std::nullopt;
}

std::optional<QString> BlockListProblem(const QByteArray &head, BlockList *list)
{
    using namespace BlockListFormat;
    if (head.size() < headerBytes || !head.startsWith(magic))
        return QStringLiteral("it is not a block list");
    const qint64 fileSize = qint64(qFromLittleEndian<quint64>(head.constData() + 8));
    const qint64 blockCount = Number32(head.constData() + 16);
    const qint64 pieceCount = Number32(head.constData() + 20);
    if (head.size() != headerBytes + blockEntryBytes * blockCount)
        return QStringLiteral("its head does not hold its %1 blocks").arg(blockCount);
    list->fileSize = fileSize;
    list->blocks.clear();
    list->firstPiece.clear();
    list->blocks.reserve(std::size_t(blockCount));
    list->firstPiece.reserve(std::size_t(blockCount));
    qint64 offset = 0;
    qint64 pieces = 0;
    for (qint64 i = 0; i < blockCount; ++i) {
        const char *entry = head.constData() + headerBytes + blockEntryBytes * i;
        Chunk block{offset, Number32(entry), DigestAt(entry + 8), int(Number32(entry + 4))};
        const qint64 fewestPieces = (block.length + ContentChunks::pieceMaximum - 1)
                                    / ContentChunks::pieceMaximum;
        if (block.length <= 0 || block.length > longestBlock || block.pieces < fewestPieces
            || block.pieces > block.length)
            return QStringLiteral("its block %1 cannot be as it says").arg(i);
        list->blocks.push_back(block);
        list->firstPiece.push_back(pieces);
        offset += block.length;
        pieces += block.pieces;
    }
    if (offset != fileSize || pieces != pieceCount)
        return QStringLiteral("its blocks do not add up to its file");
    return std::nullopt;
}

std::optional<QString> PieceEntriesProblem(const QByteArray &entries, const Chunk &block,
                                           std::vector<Chunk> *pieces)
{
    using BlockListFormat::pieceEntryBytes;
    if (entries.size() != pieceEntryBytes * block.pieces)
        return QStringLiteral("the entries hold %1 bytes").arg(entries.size());
    pieces->clear();
    qint64 offset = block.offset;
    for (int i = 0; i < block.pieces; ++i) {
        const char *entry = entries.constData() + pieceEntryBytes * i;
        const Chunk piece{offset, Number32(entry), DigestAt(entry + 4), 0};
        if (piece.length <= 0 || piece.length > ContentChunks::pieceMaximum)
            return QStringLiteral("a piece cannot be %1 bytes long").arg(piece.length);
        pieces->push_back(piece);
        offset += piece.length;
    }
    if (offset != block.offset + block.length)
        return QStringLiteral("the pieces do not add up to the block");
    return std::nullopt;
}
