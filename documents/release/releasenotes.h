#ifndef RELEASENOTES_H
#define RELEASENOTES_H

#include <QDate>
#include <QString>
#include <QStringList>

#include <optional>

class QDomNode;

// What one release-notes document says. A value the document does not give stays unset, so that the
// window keeps what it had; repeated elements are kept in document order.
struct ReleaseNotes
{
    std::optional<QString> version;   // the last Version
    std::optional<QDate> date;        // the last Date, invalid if it does not read as ddMMyy
    QStringList notes;                // every Notes text, in note markup
    QStringList notUpdatedFiles;      // every NotUpdatedFile, duplicates included
    int updateInProgressNotices = 0;  // how many UpdateInProgress say exactly "1"
};

// Reads the descendants of node, depth-first in document order. The notes of the previous run
// (bOldNotes) give only their version and date.
ReleaseNotes ParseReleaseNotes(const QDomNode &node, bool bOldNotes);

// Before a run fetches the notes: the previous ones survive as ReleaseNotes.old for the comparison
// with the new ones (or there is none), and the manifest is fetched anew. Failures are silent: a
// file that stays only misses its comparison.
void RotateReleaseNotes();
// A run that stops before it has installed the new notes puts the previous ones back where the next
// start's rotation takes them from, so that they still name the installed version then.
void RestorePreviousReleaseNotes();

#endif // RELEASENOTES_H
