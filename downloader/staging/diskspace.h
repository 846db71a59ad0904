#ifndef DISKSPACE_H
#define DISKSPACE_H

#include <QString>

// The room that staging takes on the disk of the installation, next to what that disk has for it.
struct StagingSpace
{
    qint64 needed = 0;
    qint64 available = 0;
    QString disk;  // the root of the disk's file system, for the log

    bool Fits() const { return needed <= available; }
    // For the log, where it does not fit.
    QString Shortage() const;
};

// What staging bytesToStage more needs on the disk of the current directory, against what the disk
// has free and what the updater frees there before it stages: its partial staging files (which
// are resumed or removed) and the copies that a switch replaced. A disk that tells nothing is
// taken to have room.
[[nodiscard]] StagingSpace MeasureStagingSpace(qint64 bytesToStage);

#endif // DISKSPACE_H
