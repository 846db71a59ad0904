#include "patchplan.h"

#include <QFile>
#include <QtConcurrent>

#include <algorithm>

#include <unordered_set>

using ContentChunks::Chunk;

namespace {

// Large reads keep a disk busy; the slice stays small next to the memory of a game machine.
constexpr qint64 sliceBytes = 4 * 1024 * 1024;

} // namespace

std::optional<QString> ChunkFileProblem(QFile *file, qint64 from, qint64 length,
                                        ContentChunks::Chunker *chunker, HashControl *control)
{
    if (!file->seek(from))
        return file->errorString();
    QByteArray slice(int(qMin(sliceBytes, qMax<qint64>(length, 1))), Qt::Uninitialized);
    for (qint64 left = length; left > 0;) {
        if (control && control->bCancel)
            return QStringLiteral("cancelled");
        const qint64 read = file->read(slice.data(), qMin<qint64>(left, slice.size()));
        if (read <= 0)
            return read < 0 ? file->errorString() : QStringLiteral("the file is shorter than it was");
        chunker->Add(slice.constData(), read);
        left -= read;
        if (control)
            control->bytesHashed += read;
    }
    chunker->Finish();
    return std::nullopt;
}

std::optional<QString> ScanBlocksProblem(const QString &path, HashControl *control,
                                         std::vector<Chunk> *blocks)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return file.errorString();
    // The cuts are found in one pass; the blocks of each slice are digested on two cores, half of
    // them on another thread of the pool, since digesting costs three times as much as cutting.
    ContentChunks::Chunker chunker(0);
    blocks->clear();
    QByteArray buffer;     // the block that the last slice left open, then the next slice
    qint64 bufferStart = 0;  // where the buffer lies in the file
    std::size_t digested = 0;
    const auto digest = [&buffer, &bufferStart](Chunk &block) {
        block.digest = ContentChunks::DigestOf(buffer.constData() + (block.offset - bufferStart),
                                               block.length);
    };
    for (bool bEnd = false; !bEnd;) {
        if (control && control->bCancel)
            return QStringLiteral("cancelled");
        const int kept = buffer.size();
        buffer.resize(int(kept + sliceBytes));
        const qint64 read = file.read(buffer.data() + kept, sliceBytes);
        if (read < 0)
            return file.errorString();
        buffer.resize(int(kept + read));
        bEnd = read == 0;
        if (bEnd)
            chunker.Finish();
        else
            chunker.Add(buffer.constData() + kept, read);
        std::vector<Chunk> cut(chunker.Blocks().cbegin() + std::ptrdiff_t(digested),
                               chunker.Blocks().cend());
        const std::size_t half = cut.size() / 2;
        QFuture<void> otherHalf = QtConcurrent::run([&cut, &digest, half] {
            std::for_each(cut.begin(), cut.begin() + std::ptrdiff_t(half), digest);
        });
        std::for_each(cut.begin() + std::ptrdiff_t(half), cut.end(), digest);
        otherHalf.waitForFinished();
        blocks->insert(blocks->end(), cut.cbegin(), cut.cend());
        digested += cut.size();
        if (control)
            control->bytesHashed += read;
        // What follows the last cut is the start of the next block.
        const qint64 cutUpTo = cut.empty() ? bufferStart : cut.back().offset + cut.back().length;
        buffer.remove(0, int(cutUpTo - bufferStart));
        bufferStart = cutUpTo;
    }
    return std::nullopt;
}

std::optional<QString> ScanPiecesProblem(const QString &path, const std::vector<Chunk> &regions,
                                         HashControl *control, std::vector<Chunk> *pieces)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return file.errorString();
    pieces->clear();
    for (const Chunk &region : regions) {
        // A block starts its pieces afresh, so each one is cut on its own as the publisher cut it.
        ContentChunks::Chunker chunker(ContentChunks::Chunker::PieceDigests, region.offset);
        if (std::optional<QString> problem =
                ChunkFileProblem(&file, region.offset, region.length, &chunker, control))
            return problem;
        pieces->insert(pieces->end(), chunker.Pieces().cbegin(), chunker.Pieces().cend());
    }
    return std::nullopt;
}

LocalChunks IndexChunks(const std::vector<Chunk> &chunks)
{
    LocalChunks index;
    index.reserve(chunks.size());
    for (const Chunk &chunk : chunks)
        index.emplace(chunk.digest, chunk.offset);
    return index;
}

BlockMatch MatchBlocks(const BlockList &list, int firstBlock, const std::vector<Chunk> &oldBlocks)
{
    const LocalChunks local = IndexChunks(oldBlocks);
    BlockMatch match;
    match.localOffsets.assign(list.blocks.size(), -1);
    // The blocks before firstBlock are written already; the old copy's blocks that they match are
    // no edited places, and would only lengthen the scan for pieces, or stop it past its limit.
    std::unordered_set<ContentChunks::Digest, ContentChunks::DigestHash> used;
    for (int i = 0; i < firstBlock && i < int(list.blocks.size()); ++i)
        used.insert(list.blocks.at(std::size_t(i)).digest);
    for (int i = firstBlock; i < int(list.blocks.size()); ++i) {
        const Chunk &block = list.blocks.at(std::size_t(i));
        const auto found = local.find(block.digest);
        if (found != local.end()) {
            match.localOffsets[std::size_t(i)] = found->second;
            used.insert(block.digest);
        } else {
            match.missing.push_back(i);
            match.missingBytes += block.length;
        }
    }
    for (const Chunk &block : oldBlocks) {
        if (used.count(block.digest) == 0)
            match.unused.push_back(block);
    }
    return match;
}

std::vector<ByteRange> MergedRanges(const std::vector<Chunk> &chunks, qint64 gapBytes,
                                    qint64 mostBytes)
{
    std::vector<ByteRange> ranges;
    for (const Chunk &chunk : chunks) {
        const qint64 end = chunk.offset + chunk.length;
        if (!ranges.empty() && chunk.offset >= ranges.back().end
            && chunk.offset - ranges.back().end <= gapBytes
            && end - ranges.back().start <= mostBytes) {
            ranges.back().end = end;
        } else {
            ranges.push_back({chunk.offset, end});
        }
    }
    return ranges;
}
