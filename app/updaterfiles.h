#ifndef UPDATERFILES_H
#define UPDATERFILES_H

#include <QCryptographicHash>
#include <QString>

// Every file that the updater keeps or fetches for itself, relative to the current directory, not to
// the executable, so that every installation folder keeps its own; and where the server serves them.

// Empty files under Config/ whose presence alone carries meaning.
namespace MarkerFiles {

inline const QString configFolder = QStringLiteral("Config");
inline const QString lock = QStringLiteral("Config/UU_Lock.setting");
inline const QString accepted = QStringLiteral("Config/UU_Accepted.setting");
inline const QString installed = QStringLiteral("Config/UU_Installed.setting");
// A run has verified the installation whole here: it may be launched when a later run cannot use
// what the server says.
inline const QString completed = QStringLiteral("Config/UU_Completed.setting");

} // namespace MarkerFiles

// The updater's other files under Config/.
namespace ConfigFiles {

// Held by the running updater (QLockFile), beside the lock marker.
inline const QString instanceLock = QStringLiteral("Config/UU_Instance.lock");
// The debug lines of this run; the previous run's get ".1" appended.
inline const QString log = QStringLiteral("Config/updater.log");
// The digest and stamp of every file of the manifest as last read or written.
inline const QString verifiedDigests = QStringLiteral("Config/VerifiedDigests.record");
// The highest release that a completed run accepted: the floor of a keyed updater.
inline const QString installedRelease = QStringLiteral("Config/InstalledRelease.record");

// The blocks of the large files that the updater put in place, by their digests.
inline const QString knownBlocksFolder = QStringLiteral("Config/Blocks");

// The staging file of a transfer: Config/Download.part for the first slot, Config/Download-1.part
// for the next, and so on, one for each transfer that may run at once.
inline QString StagingPath(int slot)
{
    return slot == 0 ? QStringLiteral("Config/Download.part")
                     : QStringLiteral("Config/Download-%1.part").arg(slot);
}

// A file of the installation that arrived whole and verified, waiting in Config/Staged/ until every
// file of its pass has: then they are put in place together. Named by the file's path, size and
// digest, so that a later start finds what is staged for the file that its manifest lists.
inline const QString stagedFolder = QStringLiteral("Config/Staged");
inline QString StagedCopyPath(const QString &path, qint64 size, const QString &md5)
{
    const QByteArray name = QCryptographicHash::hash(
        QStringLiteral("%1 %2 %3").arg(size).arg(md5, path).toUtf8(), QCryptographicHash::Md5);
    return stagedFolder + QLatin1Char('/') + QString::fromLatin1(name.toHex())
           + QStringLiteral(".staged");
}

// The list of staged files and their targets, written before the first of them is put in place: a
// start that finds it finishes what the switch began before it does anything else.
inline const QString switchJournal = QStringLiteral("Config/Switch.journal");

// A file that a switch replaced, kept under a second name until the record of digests is written
// (ReplacedCopyPath(0), then ReplacedCopyPath(1), and so on): freeing gigabytes costs the system a
// moment that the update need not wait for, and a program still running from it on Windows can be
// moved but not removed.
inline QString ReplacedCopyPath(int index)
{
    return index == 0 ? QStringLiteral("Config/Replaced.old")
                      : QStringLiteral("Config/Replaced-%1.old").arg(index);
}
inline const QString replacedCopies = QStringLiteral("Replaced*.old");

// Where a swap keeps the updater's previous program (UpdaterAsidePath(0), then 1, ...), so that it
// can be put back if the new one does not start; a later start removes those that nothing runs.
inline QString UpdaterAsidePath(int index)
{
    return QStringLiteral("Config/Updater-%1.old").arg(index);
}
inline const QString updaterAsides = QStringLiteral("Updater-*.old");
// What the player chooses in the window and keeps across starts, such as the speed limit.
inline const QString settings = QStringLiteral("Config/Settings.ini");
// The MD5 digest of a new updater program that did not start: not tried again while the manifest
// names it.
inline const QString rejectedUpdater = QStringLiteral("Config/RejectedUpdater.record");
// Written by a new updater program once its window is up and its first request has come back,
// with its process id: the previous program hands the folder over only then.
inline const QString updaterRunning = QStringLiteral("Config/UpdaterRunning.marker");

// The record beside a staging file that says what it holds: Config/Download.resume, ...
inline QString ResumeRecordPath(int slot)
{
    return slot == 0 ? QStringLiteral("Config/Download.resume")
                     : QStringLiteral("Config/Download-%1.resume").arg(slot);
}

} // namespace ConfigFiles

// The server's two documents, fetched from the top of the release into the current directory, the
// signature files that the publisher puts beside them, and the copy of the notes that a run keeps
// from the one before.
namespace DocumentFiles {

inline const QString releaseNotes = QStringLiteral("ReleaseNotes.xml");
inline const QString releaseNotesSignature = QStringLiteral("ReleaseNotes.xml.sig");
inline const QString previousReleaseNotes = QStringLiteral("ReleaseNotes.old");
inline const QString manifest = QStringLiteral("GameManifest.xml");
inline const QString manifestSignature = QStringLiteral("GameManifest.xml.sig");

} // namespace DocumentFiles

// Where the server serves a release: every file at this path followed by its path in the release.
inline const QString serverReleasePath = QStringLiteral("/qor_app/");

#endif // UPDATERFILES_H
