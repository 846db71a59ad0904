#ifndef STAGINGSLOTS_H
#define STAGINGSLOTS_H

#include "downloader/staging/resumerecord.h"

#include <QHash>
#include <QSet>
#include <QString>

#include <functional>
#include <optional>

// The staging files under Config/, one per slot (ConfigFiles::StagingPath), and who holds each: a
// running transfer, or a leftover that a later transfer of the same file may resume. Leftovers are
// what an earlier start staged, or what this one staged before it let go of a transfer (for a
// password, or a new request).
class StagingSlots
{
public:
    // Takes up what earlier starts left, removing what cannot be resumed: a staging file without
    // its record, with a damaged one, or for a path that is not safe.
    void FindLeftovers();

    struct Claim
    {
        int slot;
        std::optional<ResumeRecord> leftover;  // what the slot holds of the file already
    };
    // A slot for a transfer of path: that of its leftover, if there is one, else the lowest free.
    Claim ClaimFor(const QString &path);
    // A transfer is done with its slot. With kept, what it staged stays as a leftover.
    void Release(int slot, const std::optional<ResumeRecord> &kept = std::nullopt);
    // Removes every leftover that is no longer wanted.
    void DiscardLeftovers(const std::function<bool(const ResumeRecord &)> &bWanted);

private:
    struct Leftover
    {
        int slot;
        ResumeRecord record;
    };

    int FreeSlot() const;
    static void RemoveFiles(int slot);

    QHash<QString, Leftover> leftovers;  // by local path
    QSet<int> claimed;                   // by running transfers
};

#endif // STAGINGSLOTS_H
