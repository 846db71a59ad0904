#include "switchjournal.h"

#include <QFile>
#include <QSaveFile>

namespace {

constexpr char formatLine[] = "UpdaterSwitch 1";
constexpr char endWord[] = "end ";

} // namespace

std::optional<QString> SaveSwitchJournalProblem(const QString &journalPath,
                                                const QList<SwitchEntry> &entries)
{
    // One line for each file, "STAGED<tab>TARGET" (no path that the updater writes holds a control
    // character), and one that ends the list with its count.
    QByteArray content = QByteArray(formatLine) + '\n';
    for (const SwitchEntry &entry : entries)
        content += entry.staged.toUtf8() + '\t' + entry.target.toUtf8() + '\n';
    content += endWord + QByteArray::number(entries.size()) + '\n';
    // QSaveFile writes the journal to the disk before it takes the name.
    QSaveFile file(journalPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.commit())
        return file.errorString();
    return std::nullopt;
}

std::optional<QString> LoadSwitchJournalProblem(const QString &journalPath,
                                                QList<SwitchEntry> *entries)
{
    QFile file(journalPath);
    if (!file.open(QIODevice::ReadOnly))
        return file.errorString();
    QList<QByteArray> lines = file.readAll().split('\n');
    const bool bFramed = lines.size() >= 3 && lines.first() == formatLine && lines.last().isEmpty()
                         && lines.at(lines.size() - 2).startsWith(endWord);
    if (!bFramed)
        return QStringLiteral("it is damaged");
    const QByteArray count = lines.at(lines.size() - 2).mid(int(sizeof(endWord)) - 1);
    lines = lines.mid(1, lines.size() - 3);
    if (count != QByteArray::number(lines.size()))
        return QStringLiteral("it is damaged");
    entries->clear();
    for (const QByteArray &line : qAsConst(lines)) {
        const QList<QByteArray> paths = line.split('\t');
        if (paths.size() != 2 || paths.at(0).isEmpty() || paths.at(1).isEmpty())
            return QStringLiteral("it is damaged");
        entries->append({QString::fromUtf8(paths.at(0)), QString::fromUtf8(paths.at(1))});
    }
    return std::nullopt;
}
