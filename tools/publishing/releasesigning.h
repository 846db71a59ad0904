#ifndef RELEASESIGNING_H
#define RELEASESIGNING_H

#include "documents/release/releasestatement.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

// The publisher's side of a signed release: what make-manifest --sign writes, and what the tests'
// releases are published with.

struct StatedNotes
{
    QByteArray notes;                // the notes with the statement
    std::optional<QString> problem;  // why they cannot carry one
};

// notes with the SignedRelease element of statement as the last child of their root, in place of
// every SignedRelease element they had, at any depth. The rest of the publisher's bytes stay as they
// were, so that the file still reads as they wrote it; the new element takes the indentation of the
// root's last child. Notes must be UTF-8 XML.
[[nodiscard]] StatedNotes WithReleaseStatement(const QByteArray &notes,
                                               const ReleaseStatement &statement);

// A release's two documents as the server serves them.
struct SignedDocuments
{
    ReleaseStatement statement;    // what the notes now say
    QByteArray notes;              // with it
    QByteArray notesSignature;     // the signature files (documents/releasesignature.h)
    QByteArray manifestSignature;
    std::optional<QString> problem;  // why the release cannot be signed
};

// Signs release number (expiring after expires, to the second, if given) with secretKey (64 bytes,
// as DecodeSecretKey gives it): its notes, with the statement that ties them to manifest, and the
// manifest as it is.
[[nodiscard]] SignedDocuments SignRelease(const QByteArray &notes, const QByteArray &manifest,
                                          qint64 number, const std::optional<QDateTime> &expires,
                                          const QByteArray &secretKey);

#endif // RELEASESIGNING_H
