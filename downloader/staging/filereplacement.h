#ifndef FILEREPLACEMENT_H
#define FILEREPLACEMENT_H

#include <QString>

#include <optional>

class QFile;

// Moves source over target in one step, so that whoever opens target finds either the previous file
// or the new one, never neither. A read-only target is replaced as well. On failure target is as it
// was, source is still there, and the problem says what the system refused.
[[nodiscard]] std::optional<QString> MoveIntoPlaceProblem(const QString &source,
                                                          const QString &target);

// Gives target a second name, aside, so that replacing target later does not free its data on the
// spot; false where the system cannot (another volume, a file system without hard links).
[[nodiscard]] bool LinkAside(const QString &target, const QString &aside);

// Asks the system to start writing length bytes of the open file from offset to disk, without
// waiting for them: a large file then need not be written all at once when it is put in place (a
// rename over a file writes out the new one first on Linux's ext4). Nothing where the system has
// no such call.
void StartWriteback(QFile *file, qint64 offset, qint64 length);

#endif // FILEREPLACEMENT_H
