#ifndef DOCUMENTFILES_H
#define DOCUMENTFILES_H

#include <QString>

// The server's two documents, fetched from the top of the release into the current directory, the
// signature files that the publisher puts beside them (documents/releasesignature.h), and the copy of
// the notes that a run keeps from the one before.
namespace DocumentFiles {

inline const QString releaseNotes = QStringLiteral("ReleaseNotes.xml");
inline const QString releaseNotesSignature = QStringLiteral("ReleaseNotes.xml.sig");
inline const QString previousReleaseNotes = QStringLiteral("ReleaseNotes.old");
inline const QString manifest = QStringLiteral("GameManifest.xml");
inline const QString manifestSignature = QStringLiteral("GameManifest.xml.sig");

} // namespace DocumentFiles

#endif // DOCUMENTFILES_H
