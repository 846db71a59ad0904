#include "contentchunks.h"

#include "documents/release/sodiumbytes.h"

#include <cstring>

namespace ContentChunks {

namespace {

// The gear's random value of each byte: fixed for ever, since the publisher and every player must
// cut alike. SplitMix64 from a fixed seed gives them without a table in the source.
constexpr std::array<uint64_t, 256> MakeGear()
{
    std::array<uint64_t, 256> gear{};
    uint64_t state = 0x5155'4f52'4348'554eull;
    for (uint64_t &value : gear) {
        state += 0x9e37'79b9'7f4a'7c15ull;
        uint64_t z = state;
        z = (z ^ (z >> 30)) * 0xbf58'476d'1ce4'e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d0'49bb'1331'11ebull;
        value = z ^ (z >> 31);
    }
    return gear;
}
constexpr std::array<uint64_t, 256> gearTable = MakeGear();

constexpr uint64_t TopBits(int bits)
{
    return ~uint64_t(0) << (64 - bits);
}
constexpr uint64_t pieceMask = TopBits(pieceBits);
constexpr uint64_t blockMask = TopBits(blockBits);
// The gear forgets a byte after 64 more: before then nothing of a piece's start needs hashing.
constexpr qint64 gearWindow = 64;

void InitState(crypto_generichash_state *state)
{
    crypto_generichash_init(state, nullptr, 0, digestBytes);
}

Digest FinalDigest(crypto_generichash_state *state)
{
    Digest digest;
    crypto_generichash_final(state, digest.data(), digest.size());
    InitState(state);
    return digest;
}

} // namespace

std::size_t DigestHash::operator()(const Digest &digest) const
{
    std::size_t value;
    std::memcpy(&value, digest.data(), sizeof value);
    return value;
}

Digest DigestOf(const char *data, qint64 size)
{
    SodiumReady();
    Digest digest;
    crypto_generichash(digest.data(), digest.size(), reinterpret_cast<const unsigned char *>(data),
                       quint64(size), nullptr, 0);
    return digest;
}

Chunker::Chunker(int digests, qint64 startOffset)
    : digests(digests)
    , offset(startOffset)
    , pieceStart(startOffset)
    , blockStart(startOffset)
{
    // BLAKE2b runs several times as fast once libsodium has picked the code for this processor.
    SodiumReady();
    InitState(&blockState);
    InitState(&pieceState);
}

void Chunker::Add(const char *data, qint64 size)
{
    const char *const end = data + size;
    hashedFrom = data;
    const char *next = data;
    while (next < end) {
        const qint64 pieceLength = offset - pieceStart;
        // The bytes that the gear forgets before the piece may end are skipped; then the hash runs
        // up to the minimum without a test, and with one up to the maximum.
        const char *const hashFrom = next + qMax<qint64>(0, pieceMinimum - gearWindow - pieceLength);
        const char *const testFrom = next + qMax<qint64>(0, pieceMinimum - 1 - pieceLength);
        const char *const last = next + qMin<qint64>(end - next, pieceMaximum - pieceLength);
        const char *byte = qMin(hashFrom, last);
        uint64_t hash = gear;
        for (const char *const stop = qMin(testFrom, last); byte < stop; ++byte)
            hash = (hash << 1) + gearTable[static_cast<unsigned char>(*byte)];
        bool bCut = false;
        while (byte < last) {
            hash = (hash << 1) + gearTable[static_cast<unsigned char>(*byte++)];
            if ((hash & pieceMask) == 0) {
                bCut = true;
                break;
            }
        }
        gear = hash;
        offset += byte - next;
        next = byte;
        if (!bCut && offset - pieceStart < pieceMaximum)
            continue;
        HashUpTo(next);
        const qint64 blockLength = offset - blockStart;
        EndPiece(blockLength >= blockMaximum
                 || (blockLength >= blockMinimum && (gear & blockMask) == 0));
    }
    HashUpTo(end);
}

void Chunker::Finish()
{
    if (offset > blockStart)
        EndPiece(true);
}

void Chunker::HashUpTo(const char *data)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(hashedFrom);
    const quint64 size = quint64(data - hashedFrom);
    if (size == 0)
        return;
    if (digests & BlockDigests)
        crypto_generichash_update(&blockState, bytes, size);
    if (digests & PieceDigests)
        crypto_generichash_update(&pieceState, bytes, size);
    hashedFrom = data;
}

void Chunker::EndPiece(bool bEndsBlock)
{
    if (offset > pieceStart) {
        // Only a caller that wants their digests gets the pieces: a player's scan of a large file
        // keeps its blocks alone.
        if (digests & PieceDigests)
            pieces.push_back({pieceStart, offset - pieceStart, FinalDigest(&pieceState), 0});
        ++blockPieces;
    }
    pieceStart = offset;
    gear = 0;
    if (!bEndsBlock)
        return;
    Chunk block{blockStart, offset - blockStart, {}, blockPieces};
    if (digests & BlockDigests)
        block.digest = FinalDigest(&blockState);
    blocks.push_back(block);
    blockStart = offset;
    blockPieces = 0;
}

} // namespace ContentChunks
