#ifndef SWITCHJOURNAL_H
#define SWITCHJOURNAL_H

#include <QList>
#include <QString>

#include <optional>

// One file of a switch: its staged copy under Config/ and its place in the installation, both
// relative to the current directory.
struct SwitchEntry
{
    QString staged;
    QString target;

    friend bool operator==(const SwitchEntry &a, const SwitchEntry &b)
    {
        return a.staged == b.staged && a.target == b.target;
    }
};

// The journal of a switch (ConfigFiles::switchJournal): every file that it puts in place, written
// in one step and to the disk before the first of them moves, and removed once the last has.
[[nodiscard]] std::optional<QString> SaveSwitchJournalProblem(const QString &journalPath,
                                                              const QList<SwitchEntry> &entries);
// What the journal at journalPath lists; why it cannot be used, if it cannot.
[[nodiscard]] std::optional<QString> LoadSwitchJournalProblem(const QString &journalPath,
                                                              QList<SwitchEntry> *entries);

#endif // SWITCHJOURNAL_H
