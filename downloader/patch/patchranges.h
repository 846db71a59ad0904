#ifndef PATCHRANGES_H
#define PATCHRANGES_H

#include "documents/patch/patchplan.h"
#include "downloader/fetch/fetchpolicy.h"
#include "downloader/patch/patchplanner.h"

#include <QByteArray>

#include <memory>
#include <vector>

class Fetch;

// One range of a patch's: its block list's head, piece entries of the list, or a range of the file,
// held from its first byte on as it arrives, until the writer is past it.
struct PatchRange : FetchSink
{
    enum class Kind { Head, Pieces, Data };
    Kind kind = Kind::Data;
    ByteRange range;
    QByteArray data;
    Fetch *fetch = nullptr;  // until all of it has arrived
    PieceEntryRun entries;   // Pieces: whose entries it holds
    int wholeBlock = -1;     // Data: the block that it fetches again whole, if any

    qint64 HeldBytes() const override { return data.size(); }
    void Restart() override { data.clear(); }
    void Begins(const QByteArray &) override {}
    std::optional<QString> WriteProblem(const QByteArray &bytes) override
    {
        data += bytes;
        return std::nullopt;
    }
};

// The ranges of a patch: those in flight, and those that hold bytes the writer has yet to take.
class PatchRanges
{
public:
    PatchRange *Add(std::unique_ptr<PatchRange> range);
    void Remove(const PatchRange *range);
    void Clear() { ranges.clear(); }
    PatchRange *OfFetch(const Fetch *fetch) const;
    // The range that fetches block again whole, if any.
    PatchRange *OfWholeBlock(int block) const;
    // The ranges of the file in flight, and the bytes that they and those not yet written take.
    int DataInFlight() const;
    qint64 DataHeld() const;
    // Lets go of the ranges of the file that have arrived and that the writer is past.
    void DropWritten(qint64 writtenUpTo);
    // The bytes of the file from offset on, where a range has brought length of them: with
    // wholeBlock, only that block's own range counts.
    const char *Arrived(qint64 offset, qint64 length, int wholeBlock) const;

private:
    std::vector<std::unique_ptr<PatchRange>> ranges;
};

#endif // PATCHRANGES_H
