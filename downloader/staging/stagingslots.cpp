#include "stagingslots.h"

#include "app/updaterfiles.h"
#include "downloader/staging/downloadpath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

// The slot of a staging or record file's name in Config/, or -1 if it is neither.
int SlotOf(const QString &fileName)
{
    static const QRegularExpression name(
        QStringLiteral("^Download(?:-([1-9][0-9]{0,3}))?\\.(?:part|resume)$"));
    const QRegularExpressionMatch match = name.match(fileName);
    if (!match.hasMatch())
        return -1;
    return match.captured(1).isEmpty() ? 0 : match.captured(1).toInt();
}

} // namespace

void StagingSlots::FindLeftovers()
{
    const QStringList names =
        QDir(MarkerFiles::configFolder).entryList({QStringLiteral("Download*")}, QDir::Files);
    QSet<int> foundSlots;
    for (const QString &name : names) {
        const int slot = SlotOf(name);
        if (slot >= 0)
            foundSlots.insert(slot);
    }
    for (const int slot : qAsConst(foundSlots)) {
        ResumeRecord record;
        const bool bRead = QFileInfo(ConfigFiles::StagingPath(slot)).size() > 0
                           && !record.LoadProblem(ConfigFiles::ResumeRecordPath(slot));
        const int slash = record.path.lastIndexOf(QLatin1Char('/'));
        const bool bUsable = bRead && !leftovers.contains(record.path)
                             && IsSafeDownloadPath(record.path.left(slash + 1),
                                                   record.path.mid(slash + 1));
        if (bUsable)
            leftovers.insert(record.path, {slot, record});
        else
            RemoveFiles(slot);
    }
}

StagingSlots::Claim StagingSlots::ClaimFor(const QString &path)
{
    Claim claim{-1, std::nullopt};
    if (leftovers.contains(path)) {
        const Leftover leftover = leftovers.take(path);
        claim = {leftover.slot, leftover.record};
    } else {
        claim.slot = FreeSlot();
    }
    claimed.insert(claim.slot);
    return claim;
}

void StagingSlots::Release(int slot, const std::optional<ResumeRecord> &kept)
{
    claimed.remove(slot);
    if (kept)
        leftovers.insert(kept->path, {slot, *kept});
}

void StagingSlots::DiscardLeftovers(const std::function<bool(const ResumeRecord &)> &bWanted)
{
    for (auto leftover = leftovers.begin(); leftover != leftovers.end();) {
        if (bWanted(leftover->record)) {
            ++leftover;
            continue;
        }
        RemoveFiles(leftover->slot);
        leftover = leftovers.erase(leftover);
    }
}

int StagingSlots::FreeSlot() const
{
    QSet<int> taken = claimed;
    for (const Leftover &leftover : leftovers)
        taken.insert(leftover.slot);
    int slot = 0;
    while (taken.contains(slot))
        ++slot;
    return slot;
}

void StagingSlots::RemoveFiles(int slot)
{
    QFile::remove(ConfigFiles::StagingPath(slot));
    QFile::remove(ConfigFiles::ResumeRecordPath(slot));
}
