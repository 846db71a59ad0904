#include "stagedswitch.h"

#include "app/runlog.h"
#include "app/updaterfiles.h"
#include "downloader/staging/downloadpath.h"
#include "downloader/staging/filereplacement.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

struct Blocker
{
    QString path;
    QString problem;
};

// The next name at or after index under which a replaced file may be kept: one that a program
// still runs from cannot be taken again.
int FreeAside(int index)
{
    while (QFile::exists(ConfigFiles::ReplacedCopyPath(index))
           && !QFile::remove(ConfigFiles::ReplacedCopyPath(index))) {
        ++index;
    }
    return index;
}

// The new copy takes over the target's permissions, except that its owner can always read and
// write it: a read-only copy must not become a file that its owner cannot delete. The User flags
// stay behind: they say what this process may do (anything, for root), not what the target grants.
void TakeOverPermissions(const QString &staged, const QString &target)
{
    const QFileInfo previous(target);
    const QFileDevice::Permissions userFlags =
        QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser;
    const QFileDevice::Permissions kept = previous.exists()
                                              ? previous.permissions() & ~userFlags
                                              : QFileDevice::ReadGroup | QFileDevice::ReadOther;
    QFile::setPermissions(staged, kept | QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

// Moves every staged copy that is still there over its target, keeping the replaced files aside;
// how many moved, and what stopped the rest, if anything did.
std::optional<Blocker> MoveStagedCopies(const QList<SwitchEntry> &entries, int *moved)
{
    int aside = 0;
    for (const SwitchEntry &entry : entries) {
        if (!QFile::exists(entry.staged))
            continue;
        QDir().mkpath(QFileInfo(entry.target).path());
        TakeOverPermissions(entry.staged, entry.target);
        aside = FreeAside(aside);
        if (const std::optional<QString> problem = ReplaceKeepingAsideProblem(
                entry.staged, entry.target, ConfigFiles::ReplacedCopyPath(aside))) {
            return Blocker{entry.target, *problem};
        }
        ++aside;
        ++*moved;
    }
    return std::nullopt;
}

// Only what this updater writes is taken from a journal: its staged copies, and safe paths.
bool IsJournalEntrySafe(const SwitchEntry &entry)
{
    const QString folder = ConfigFiles::stagedFolder + QLatin1Char('/');
    const int slash = entry.target.lastIndexOf(QLatin1Char('/'));
    return entry.staged.startsWith(folder) && !entry.staged.mid(folder.size()).contains('/')
           && IsSafeDownloadPath(entry.target.left(slash + 1), entry.target.mid(slash + 1));
}

} // namespace

std::optional<QString> ReplaceProblem(const QString &target)
{
    const QFileInfo info(target);
    if (info.exists() && !info.isFile())
        return QStringLiteral("a folder, a FIFO or a device stands at its path");
    QString folder = info.path();
    while (!QFileInfo::exists(folder))
        folder = QFileInfo(folder).path();
    if (!QFileInfo(folder).isDir())
        return QStringLiteral("%1 is not a folder").arg(folder);
    if (const std::optional<QString> problem = HeldFileProblem(target, folder))
        return problem;
    return std::nullopt;
}

SwitchOutcome SwitchStagedFiles(const QList<SwitchEntry> &entries)
{
    SwitchOutcome outcome;
    QStringList staged;
    for (const SwitchEntry &entry : entries) {
        if (!QFile::exists(entry.staged))
            continue;
        if (const std::optional<QString> problem = ReplaceProblem(entry.target)) {
            outcome.kind = SwitchOutcome::Kind::Held;
            outcome.path = entry.target;
            outcome.problem = *problem;
            return outcome;
        }
        staged.append(entry.staged);
    }
    // What the journal lists must be on the disk before it is, or a power cut could leave the
    // files that it moved empty.
    FlushToDisk(staged);
    if (const std::optional<QString> problem =
            SaveSwitchJournalProblem(ConfigFiles::switchJournal, entries)) {
        outcome.kind = SwitchOutcome::Kind::Failed;
        outcome.problem =
            QStringLiteral("Cannot write %1: %2").arg(ConfigFiles::switchJournal, *problem);
        return outcome;
    }
    int moved = 0;
    if (const std::optional<Blocker> blocker = MoveStagedCopies(entries, &moved)) {
        // The journal stays: the next try, or the next start, moves the rest.
        outcome.kind = SwitchOutcome::Kind::Held;
        outcome.path = blocker->path;
        outcome.problem = blocker->problem;
        return outcome;
    }
    QFile::remove(ConfigFiles::switchJournal);
    outcome.stamps.reserve(entries.size());
    for (const SwitchEntry &entry : entries)
        outcome.stamps.append(ReadFileStamp(entry.target));
    return outcome;
}

void FinishInterruptedSwitch()
{
    if (!QFile::exists(ConfigFiles::switchJournal))
        return;
    QList<SwitchEntry> entries;
    if (const std::optional<QString> problem =
            LoadSwitchJournalProblem(ConfigFiles::switchJournal, &entries)) {
        qCWarning(lcRun).noquote() << QStringLiteral("Cannot finish the switch that was cut off: "
                                                     "cannot use %1: %2")
                                          .arg(ConfigFiles::switchJournal, *problem);
        return;
    }
    QList<SwitchEntry> safe;
    for (const SwitchEntry &entry : qAsConst(entries)) {
        if (IsJournalEntrySafe(entry))
            safe.append(entry);
    }
    int moved = 0;
    if (const std::optional<Blocker> blocker = MoveStagedCopies(safe, &moved)) {
        qCWarning(lcRun).noquote()
            << QStringLiteral("Cannot finish the switch that was cut off: cannot replace %1: %2")
                   .arg(blocker->path, blocker->problem);
        return;
    }
    QFile::remove(ConfigFiles::switchJournal);
    qCInfo(lcRun).noquote() << QStringLiteral("Finished the switch that was cut off: put %1 of "
                                              "its %2 files in place")
                                   .arg(moved)
                                   .arg(entries.size());
}

bool IsSwitchPending()
{
    return QFile::exists(ConfigFiles::switchJournal);
}

void ForgetPendingSwitch()
{
    QFile::remove(ConfigFiles::switchJournal);
}

QString StagedCopyOf(const DownloadItem &item)
{
    return ConfigFiles::StagedCopyPath(item.folder + item.fileName, item.size, item.md5);
}

void RemoveStagedCopiesExcept(const QList<DownloadItem> &wanted)
{
    QSet<QString> kept;
    for (const DownloadItem &item : wanted)
        kept.insert(StagedCopyOf(item));
    QDir staged(ConfigFiles::stagedFolder);
    const QStringList names = staged.entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &name : names) {
        if (!kept.contains(ConfigFiles::stagedFolder + QLatin1Char('/') + name))
            staged.remove(name);
    }
}

ProgramSwap SwapProgram(const QString &staged, const QString &program)
{
    ProgramSwap swap;
    // A program that still runs from an older copy keeps its name: each swap takes a new one.
    int index = 0;
    while (QFile::exists(ConfigFiles::UpdaterAsidePath(index)))
        ++index;
    swap.aside = ConfigFiles::UpdaterAsidePath(index);
    TakeOverPermissions(staged, program);
    swap.problem = ReplaceKeepingAsideProblem(staged, program, swap.aside);
    return swap;
}

void RemoveSwappedPrograms()
{
    QDir config(MarkerFiles::configFolder);
    const QStringList programs = config.entryList({ConfigFiles::updaterAsides}, QDir::Files);
    for (const QString &program : programs)
        config.remove(program);
}

void RemoveReplacedCopies()
{
    QDir config(MarkerFiles::configFolder);
    const QStringList copies = config.entryList({ConfigFiles::replacedCopies}, QDir::Files);
    for (const QString &copy : copies) {
        QFile::setPermissions(config.filePath(copy), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        config.remove(copy);
    }
}
