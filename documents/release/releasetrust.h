#ifndef RELEASETRUST_H
#define RELEASETRUST_H

#include "documents/installation/manifestlisting.h"
#include "documents/release/releasestatement.h"

#include <QByteArray>
#include <QString>

#include <optional>

class QDomDocument;

// Whether the release documents that arrived may be believed. A build without a key takes them as
// they are. A keyed build takes each only with its signature by the key (documents/release/
// releasesignature.h), notes only with a statement of a release that may be installed now (none
// below the installed release, none expired: documents/release/releasestatement.h), and a manifest
// only if it is the one that the notes were signed with. It also raises the floor of the
// installation (documents/release/installedrelease.h) once a run has installed a release.
class ReleaseTrust
{
public:
    // publicKey is the base64 of the key, or empty for a build without one; documents larger than
    // documentBytes are refused unread.
    ReleaseTrust(const QByteArray &publicKey, qint64 documentBytes);

    // Whether the documents come with signatures, which the run then fetches after each.
    bool IsKeyed() const { return bKeyed; }

    struct NotesCheck
    {
        std::optional<QString> problem;      // why the notes cannot be used
        std::optional<QString> floorNotice;  // for the log: this run has no floor, and why
    };
    // Reads the release notes at path into notes, and keeps their statement for the manifest and
    // the floor.
    [[nodiscard]] NotesCheck CheckNotes(const QString &path, QDomDocument *notes);
    // Reads the files that the manifest at path lists into manifest; why it cannot be used, if it
    // cannot.
    [[nodiscard]] std::optional<QString> ManifestProblem(const QString &path,
                                                         ManifestListing *manifest) const;
    // The release of the notes is installed now: none below it may replace it. Why the record of
    // the installed release (ConfigFiles::installedRelease) could not be raised, if it could not.
    [[nodiscard]] std::optional<QString> RecordInstalledProblem() const;

private:
    // Reads the document at path into content, with its signature where the build has a key.
    [[nodiscard]] std::optional<QString> ContentProblem(const QString &path, QByteArray *content) const;

    const bool bKeyed;
    // A key of another length than 32 bytes makes every signature fail rather than none be asked for.
    const QByteArray releaseKey;
    const qint64 documentBytes;
    // What the signed notes say of their release: its number, its manifest, its expiry.
    std::optional<ReleaseStatement> statement;
};

#endif // RELEASETRUST_H
