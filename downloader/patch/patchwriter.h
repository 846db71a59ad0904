#ifndef PATCHWRITER_H
#define PATCHWRITER_H

#include "documents/patch/blocklist.h"
#include "documents/patch/patchplan.h"
#include "downloader/patch/patchplanner.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

class QIODevice;

// Writes a patched file in order, block by block: the old copy's own blocks copied from it, every
// other block made from its pieces (the old copy's, or fetched) or fetched whole, and checked
// against its digest before it is written.
class PatchWriter
{
public:
    // The bytes of the new file from offset on, where a fetch has brought length of them: with
    // wholeBlock, only that block's own fetch counts. Null while they have not arrived.
    using Arrived = std::function<const char *(qint64 offset, qint64 length, int wholeBlock)>;
    // Writes the next bytes of the new file; why it could not, if it could not.
    using Write = std::function<std::optional<QString>(const QByteArray &bytes)>;

    struct Step
    {
        enum class Kind {
            Paused,          // it wrote as much as it may at once: more follows
            Waiting,         // the next block's bytes have not all arrived
            Complete,        // every block is written
            BlockWrong,      // block was made, and is not what the list says
            OldCopyChanged,  // the old copy no longer holds what it held
            WriteFailed,     // problem
        };
        Kind kind = Kind::Waiting;
        int block = -1;
        std::optional<QString> problem;
    };

    // The new file's blocks from the one at nextBlock on, written after written bytes of it (of
    // which the first block may hold a part).
    PatchWriter(const BlockList &list, const BlockMatch &match, QIODevice *oldCopy, Write write,
                int nextBlock, qint64 written);

    // Writes the blocks that can be made, up to about budget bytes; bPiecesKnown once the missing
    // blocks' pieces are.
    Step Advance(qint64 budget, const MissingBlocks &missing, bool bPiecesKnown,
                 const Arrived &arrived);
    qint64 Written() const { return written; }
    // The bytes taken from the old copy.
    qint64 ReusedBytes() const { return reusedBytes; }

private:
    // The bytes of a block that the old copy lacks; false while some of them have not arrived.
    bool MakeBlock(int index, const MissingBlock &plan, const Arrived &arrived, QByteArray *bytes,
                   bool *bOldCopyChanged);
    [[nodiscard]] std::optional<Step> CopyOld(qint64 offset, qint64 length);
    bool ReadOld(qint64 offset, qint64 length, char *into);

    const BlockList &list;
    const BlockMatch &match;
    QIODevice *const oldCopy;
    const Write write;
    int nextBlock;
    qint64 written;
    qint64 reusedBytes = 0;
    QByteArray copyBuffer;
};

#endif // PATCHWRITER_H
