#ifndef STAGEDSWITCH_H
#define STAGEDSWITCH_H

#include "documents/installation/downloaditem.h"
#include "documents/installation/filestamp.h"
#include "downloader/staging/switchjournal.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QVector>

#include <optional>

// What a switch of staged files into the installation came to.
struct SwitchOutcome
{
    enum class Kind {
        Switched,  // every file is in place, and the journal is gone
        Held,      // a file cannot be replaced now: nothing moved, or what moved is in the journal
        Failed,    // the switch could not be written down, so nothing moved
    };

    Kind kind = Kind::Switched;
    QString path;     // Held: the file that holds the switch up
    QString problem;  // Held and Failed: why
    // Switched: the stamp of each entry's target as it was put in place, in their order; none
    // where it could not be read.
    QVector<std::optional<FileStamp>> stamps;
};

// Puts the staged copies in place together: once it is sure that nothing stands in the way of any
// of them, and once the switch is written down (ConfigFiles::switchJournal), so that a crash in its
// middle is finished by the next start. An entry whose staged copy is gone is passed over: an
// earlier try of the same switch has moved it. Runs on any thread; the run's files are its own.
[[nodiscard]] SwitchOutcome SwitchStagedFiles(const QList<SwitchEntry> &entries);
// Why the file at target cannot be replaced now, if it cannot.
[[nodiscard]] std::optional<QString> ReplaceProblem(const QString &target);

// Puts the staged copy of the updater's own program in place of the running one, which it keeps
// under a name of its own (ConfigFiles::UpdaterAsidePath) so that it can be put back; that name,
// or why the swap could not be made (nothing moved then).
struct ProgramSwap
{
    QString aside;
    std::optional<QString> problem;
};
[[nodiscard]] ProgramSwap SwapProgram(const QString &staged, const QString &program);
// Removes the previous programs that swaps kept, where nothing runs from them any more.
void RemoveSwappedPrograms();

// Finishes a switch that the end of an earlier updater cut off, before anything else reads the
// installation; the log says what it did.
void FinishInterruptedSwitch();
// A switch is written down and not finished: the installation may hold files of two releases.
[[nodiscard]] bool IsSwitchPending();
// A check found the installation whole: a journal that could not be finished is of no more use.
void ForgetPendingSwitch();

// Where the file of item waits for its switch (ConfigFiles::StagedCopyPath).
[[nodiscard]] QString StagedCopyOf(const DownloadItem &item);
// Removes every staged copy but those of the files in wanted.
void RemoveStagedCopiesExcept(const QList<DownloadItem> &wanted);
// Frees the files that switches replaced (ConfigFiles::ReplacedCopyPath), once the record of
// digests no longer names them; one that a program still runs from stays for a later start.
void RemoveReplacedCopies();

#endif // STAGEDSWITCH_H
