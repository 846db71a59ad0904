#include "releasenotes.h"

#include "app/updaterfiles.h"

#include <QDomElement>
#include <QDomNode>
#include <QFile>

namespace {

void readChildren(const QDomNode &node, bool bOldNotes, ReleaseNotes &found)
{
    for (QDomNode child = node.firstChild(); !child.isNull(); child = child.nextSibling()) {
        // Text, comments and empty elements carry nothing; an empty element must not clear a value.
        if (!child.hasChildNodes())
            continue;

        const QString text = child.toElement().text();
        const QString name = child.nodeName();

        // A Version is also searched inside, like any element this reader does not know.
        if (name == QLatin1String("Version"))
            found.version = text;

        if (name == QLatin1String("UpdateInProgress") && !bOldNotes) {
            if (text == QLatin1String("1"))
                ++found.updateInProgressNotices;
        } else if (name == QLatin1String("Date")) {
            found.date = QDate::fromString(text, QStringLiteral("ddMMyy"));
        } else if (name == QLatin1String("NotUpdatedFile") && !bOldNotes) {
            found.notUpdatedFiles.append(text);
        } else if (name == QLatin1String("Notes") && !bOldNotes) {
            found.notes.append(text);
        } else {
            readChildren(child, bOldNotes, found);
        }
    }
}

} // namespace

ReleaseNotes ParseReleaseNotes(const QDomNode &node, bool bOldNotes)
{
    ReleaseNotes found;
    readChildren(node, bOldNotes, found);
    return found;
}

void RotateReleaseNotes()
{
    QFile::remove(DocumentFiles::previousReleaseNotes);
    QFile::copy(DocumentFiles::releaseNotes, DocumentFiles::previousReleaseNotes);
    QFile::remove(DocumentFiles::releaseNotes);
    QFile::remove(DocumentFiles::manifest);
}

void RestorePreviousReleaseNotes()
{
    QFile::remove(DocumentFiles::releaseNotes);
    QFile::copy(DocumentFiles::previousReleaseNotes, DocumentFiles::releaseNotes);
}
