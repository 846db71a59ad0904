#ifndef INSTALLEDRELEASE_H
#define INSTALLEDRELEASE_H

#include <QString>

#include <optional>

// The floor below which a keyed updater accepts no release (documents/releasestatement.h): the
// highest release number that a completed run accepted in this folder. On disk a line naming the
// format and its version, the number, and a last line with the MD5 digest of the two above it, so
// that a damaged record is never taken for a lower floor:
//
//   InstalledRelease 1
//   Release 7
//   End 0d5a0e2b5b0e4ef4d3a8c6d1f0a2b3c4

struct InstalledReleaseReading
{
    std::optional<qint64> number;    // the floor, when the record holds a good one
    bool bMissing = false;           // without a number: there is no record at all
    std::optional<QString> problem;  // without a number: "it does not exist", "it is damaged", ...
};

[[nodiscard]] InstalledReleaseReading ReadInstalledRelease(const QString &path);

// Records number at path in one step, unless the record there holds a good number that is higher:
// the floor only rises. Why that could not be done, if it could not.
[[nodiscard]] std::optional<QString> RaiseInstalledReleaseProblem(const QString &path,
                                                                  qint64 number);

// The floor for this run's check of the notes, and the line it logs when it has lost one.
struct ReleaseFloor
{
    std::optional<qint64> installedRelease;  // none: any release the key signed is accepted
    std::optional<QString> notice;           // one line for the log, when the floor is lost
};

// The floor that the record at path gives a run; bCompletedBefore: a run has completed in this
// folder before (Config/UU_Installed.setting).
//
// A missing record where no run has completed is a new installation, which has no floor and says
// nothing. A missing record after a completed run (an updater from before releases were numbered,
// or a removed file) and a damaged or unreadable one also leave the run without a floor, but it says
// so in one line of the log; the run's completion then records the release it accepted, so the floor
// is back from the next run on. Refusing every release instead would not protect more: only someone
// who can write this folder can remove or damage the record, and the network cannot, while the player
// would be left without updates until they deleted it by hand, which reads as a missing one.
[[nodiscard]] ReleaseFloor InstalledReleaseFloor(const QString &path, bool bCompletedBefore);

#endif // INSTALLEDRELEASE_H
