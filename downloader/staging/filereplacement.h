#ifndef FILEREPLACEMENT_H
#define FILEREPLACEMENT_H

#include <QString>
#include <QStringList>

#include <optional>

class QFile;

// Moves source over target in one step, so that whoever opens target finds either the previous file
// or the new one, never neither. A read-only target is replaced as well. On failure target is as it
// was, source is still there, and the problem says what the system refused.
[[nodiscard]] std::optional<QString> MoveIntoPlaceProblem(const QString &source,
                                                          const QString &target);

// Moves source over target, as MoveIntoPlaceProblem, keeping the previous target under the name
// aside, so that its data is not freed on the spot (gigabytes take the system a moment) and a
// program still running from it stays where it is (Windows moves a running program, but replaces
// none). On failure target and source are as they were.
[[nodiscard]] std::optional<QString> ReplaceKeepingAsideProblem(const QString &source,
                                                                const QString &target,
                                                                const QString &aside);

// Why the regular file at target (which may be missing) in the existing folder cannot be replaced
// now, as far as the system tells without trying: another program holds it open without letting it
// be moved (Windows), it or the folder is immutable, or the folder is not writable (Linux).
[[nodiscard]] std::optional<QString> HeldFileProblem(const QString &target, const QString &folder);

// Waits until the data of files (all on one file system) is on the disk, so that a crash after
// they were renamed into place cannot leave them empty.
void FlushToDisk(const QStringList &files);

// Asks the system to start writing length bytes of the open file from offset to disk, without
// waiting for them: a large file then need not be written all at once when it is put in place (a
// rename over a file writes out the new one first on Linux's ext4). Nothing where the system has
// no such call.
void StartWriteback(QFile *file, qint64 offset, qint64 length);

#endif // FILEREPLACEMENT_H
