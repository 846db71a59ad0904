#include "patchwriter.h"

#include <QIODevice>

#include <algorithm>

using ContentChunks::Chunk;

namespace {

// The slices in which the old copy's blocks are copied.
constexpr qint64 copyBytes = 256 * 1024;

} // namespace

PatchWriter::PatchWriter(const BlockList &list, const BlockMatch &match, QIODevice *oldCopy,
                         Write write, int nextBlock, qint64 written)
    : list(list)
    , match(match)
    , oldCopy(oldCopy)
    , write(std::move(write))
    , nextBlock(nextBlock)
    , written(written)
{
}

PatchWriter::Step PatchWriter::Advance(qint64 budget, const MissingBlocks &missing,
                                       bool bPiecesKnown, const Arrived &arrived)
{
    for (qint64 done = 0; nextBlock < int(list.blocks.size());) {
        if (done >= budget)
            return {Step::Kind::Paused, -1, std::nullopt};
        const Chunk &block = list.blocks.at(std::size_t(nextBlock));
        // What an earlier start staged of this block is kept.
        const qint64 from = written - block.offset;
        const qint64 own = match.localOffsets.at(std::size_t(nextBlock));
        if (own >= 0) {
            // The old copy's own blocks were digested as they were found; the whole file's digest
            // vouches for them once more before it is put in place.
            if (std::optional<Step> end = CopyOld(own + from, block.length - from))
                return *end;
        } else {
            // Its pieces are not known yet.
            if (!bPiecesKnown)
                return {Step::Kind::Waiting, -1, std::nullopt};
            QByteArray bytes;
            bool bOldCopyChanged = false;
            if (!MakeBlock(nextBlock, missing.at(nextBlock), arrived, &bytes, &bOldCopyChanged)) {
                return {bOldCopyChanged ? Step::Kind::OldCopyChanged : Step::Kind::Waiting, -1,
                        std::nullopt};
            }
            if (ContentChunks::DigestOf(bytes.constData(), bytes.size()) != block.digest)
                return {Step::Kind::BlockWrong, nextBlock, std::nullopt};
            if (std::optional<QString> problem = write(bytes.mid(int(from))))
                return {Step::Kind::WriteFailed, nextBlock, problem};
            written += block.length - from;
        }
        ++nextBlock;
        done += block.length - from;
    }
    return {Step::Kind::Complete, -1, std::nullopt};
}

std::optional<PatchWriter::Step> PatchWriter::CopyOld(qint64 offset, qint64 length)
{
    // A slice at a time through one buffer, which stays in the processor's cache while it is read,
    // written and digested.
    copyBuffer.resize(int(qMin(length, copyBytes)));
    for (qint64 done = 0; done < length;) {
        const qint64 slice = qMin<qint64>(copyBuffer.size(), length - done);
        copyBuffer.resize(int(slice));
        if (!ReadOld(offset + done, slice, copyBuffer.data()))
            return Step{Step::Kind::OldCopyChanged, nextBlock, std::nullopt};
        if (std::optional<QString> problem = write(copyBuffer))
            return Step{Step::Kind::WriteFailed, nextBlock, problem};
        written += slice;
        done += slice;
    }
    reusedBytes += length;
    return std::nullopt;
}

bool PatchWriter::MakeBlock(int index, const MissingBlock &plan, const Arrived &arrived,
                            QByteArray *bytes, bool *bOldCopyChanged)
{
    const Chunk &block = list.blocks.at(std::size_t(index));
    bytes->resize(int(block.length));
    if (plan.bWhole) {
        // After a wrong arrival, only the block's own fetch counts.
        const char *data = arrived(block.offset, block.length, plan.wrongArrivals > 0 ? index : -1);
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
            if (!ReadOld(plan.localOffsets.at(i), piece.length, into)) {
                *bOldCopyChanged = true;
                return false;
            }
            reused += piece.length;
            continue;
        }
        const char *data = arrived(piece.offset, piece.length, -1);
        if (!data)
            return false;
        std::copy_n(data, piece.length, into);
    }
    reusedBytes += reused;
    return true;
}

bool PatchWriter::ReadOld(qint64 offset, qint64 length, char *into)
{
    return oldCopy->seek(offset) && oldCopy->read(into, length) == length;
}
