#ifndef CONTENTCHUNKS_H
#define CONTENTCHUNKS_H

#include <QByteArray>
#include <QtGlobal>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include <sodium.h>

// How a large file is cut into pieces and blocks whose boundaries follow its content, so that an
// insertion or a deletion moves only the boundaries around it: both ends of a patch cut the same way,
// the publisher the new file and the player the old one, and everything outside the edits comes out
// as the same blocks with the same digests.
//
// One pass of a gear hash over the bytes (a 64-bit hash shifted by one bit and added to a random
// value of each byte, so that it depends on the last 64 bytes only: cheaper than a Rabin or buzhash
// window, with the same spread) ends a piece where its top bits are zero. A block ends after a piece
// whose hash has more top bits zero; so blocks are runs of whole pieces, and a block cut on its own
// gives the same pieces. Pieces are small (about 5 KiB), so that an edit costs little more than
// itself; blocks are large (about 360 KiB), so that the list that a player fetches whole stays short.
// Minimum and maximum sizes bound both.
namespace ContentChunks {

constexpr qint64 pieceMinimum = 1024;
constexpr qint64 pieceMaximum = 16 * 1024;
constexpr int pieceBits = 12;  // one piece end in 4 KiB after the minimum
constexpr qint64 blockMinimum = 64 * 1024;
constexpr qint64 blockMaximum = 1024 * 1024;  // a block ends after the piece that reaches this
constexpr int blockBits = 18;  // one piece end in 64 also ends the block

// A strong digest of a piece or block: BLAKE2b cut to 128 bits. A server that could forge a block
// with a listed digest would need a second preimage of it: 2^128 tries.
constexpr int digestBytes = 16;
using Digest = std::array<unsigned char, digestBytes>;
struct DigestHash
{
    std::size_t operator()(const Digest &digest) const;
};
Digest DigestOf(const char *data, qint64 size);

struct Chunk
{
    qint64 offset = 0;
    qint64 length = 0;
    Digest digest{};
    int pieces = 0;  // of a block: the pieces it holds
};

// Cuts a stream of bytes, given in any slices, into blocks, pieces, or both, with their digests.
class Chunker
{
public:
    enum Digests { BlockDigests = 1, PieceDigests = 2 };
    explicit Chunker(int digests, qint64 startOffset = 0);

    void Add(const char *data, qint64 size);
    // The stream has ended: its last piece and block end with it.
    void Finish();

    const std::vector<Chunk> &Blocks() const { return blocks; }
    const std::vector<Chunk> &Pieces() const { return pieces; }

private:
    void EndPiece(bool bEndsBlock);
    // Adds the bytes of the current slice up to data to the digests that are wanted.
    void HashUpTo(const char *data);

    const int digests;
    std::vector<Chunk> blocks;
    std::vector<Chunk> pieces;
    uint64_t gear = 0;
    qint64 offset;              // of the next byte
    qint64 pieceStart;
    qint64 blockStart;
    int blockPieces = 0;
    const char *hashedFrom = nullptr;  // the part of the current slice not yet digested
    crypto_generichash_state blockState;
    crypto_generichash_state pieceState;
};

} // namespace ContentChunks

#endif // CONTENTCHUNKS_H
