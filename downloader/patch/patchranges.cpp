#include "patchranges.h"

#include <algorithm>

PatchRange *PatchRanges::Add(std::unique_ptr<PatchRange> range)
{
    ranges.push_back(std::move(range));
    return ranges.back().get();
}

void PatchRanges::Remove(const PatchRange *range)
{
    ranges.erase(std::find_if(ranges.begin(), ranges.end(),
                              [range](const std::unique_ptr<PatchRange> &held) {
                                  return held.get() == range;
                              }));
}

PatchRange *PatchRanges::OfFetch(const Fetch *fetch) const
{
    for (const std::unique_ptr<PatchRange> &range : ranges) {
        if (range->fetch == fetch)
            return range.get();
    }
    return nullptr;
}

PatchRange *PatchRanges::OfWholeBlock(int block) const
{
    for (const std::unique_ptr<PatchRange> &range : ranges) {
        if (range->kind == PatchRange::Kind::Data && range->wholeBlock == block)
            return range.get();
    }
    return nullptr;
}

int PatchRanges::DataInFlight() const
{
    return int(std::count_if(ranges.cbegin(), ranges.cend(),
                             [](const std::unique_ptr<PatchRange> &range) {
                                 return range->kind == PatchRange::Kind::Data && range->fetch;
                             }));
}

qint64 PatchRanges::DataHeld() const
{
    qint64 held = 0;
    for (const std::unique_ptr<PatchRange> &range : ranges) {
        if (range->kind == PatchRange::Kind::Data)
            held += range->range.size();
    }
    return held;
}

void PatchRanges::DropWritten(qint64 writtenUpTo)
{
    ranges.erase(std::remove_if(ranges.begin(), ranges.end(),
                                [writtenUpTo](const std::unique_ptr<PatchRange> &range) {
                                    return range->kind == PatchRange::Kind::Data && !range->fetch
                                           && range->range.end <= writtenUpTo;
                                }),
                 ranges.end());
}

const char *PatchRanges::Arrived(qint64 offset, qint64 length, int wholeBlock) const
{
    for (const std::unique_ptr<PatchRange> &range : ranges) {
        if (range->kind == PatchRange::Kind::Data && range->wholeBlock == wholeBlock
            && range->range.start <= offset
            && range->range.start + range->data.size() >= offset + length)
            return range->data.constData() + (offset - range->range.start);
    }
    return nullptr;
}
