#ifndef RELEASESTATEMENT_H
#define RELEASESTATEMENT_H

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

class QDomDocument;

// The publisher's statement about one release. make-manifest --sign writes it into the release notes
// as the last child of their root, so that the notes' signature covers it:
//
//   <SignedRelease Number="7" Manifest="<SHA-256 of GameManifest.xml>" Expires="2026-12-31T23:59:59Z"/>
//
// A signature on its own proves only that the publisher once signed that document. The
// statement keeps an attacker on the path from serving an older genuine release (Number never goes
// below the installed release's), release 2's notes with release 1's manifest (Manifest names the
// one manifest published with the notes), or the installed release for ever once a newer one is out
// (Expires). It is an empty element, which updaters that do not know it skip (ParseReleaseNotes).
struct ReleaseStatement
{
    qint64 number = 0;                 // 1 or more; each release its key signs has a higher one
    QByteArray manifestDigest;         // lower-case hexadecimal SHA-256 of the manifest's exact bytes
    std::optional<QDateTime> expires;  // UTC, whole seconds: the last moment the release is good

    bool operator==(const ReleaseStatement &other) const;
};

inline const QString releaseStatementElement = QStringLiteral("SignedRelease");

// What signed notes say about their release: one well-formed SignedRelease element, at any depth.
struct StatementReading
{
    std::optional<ReleaseStatement> statement;  // set when the notes carry exactly one good one
    std::optional<QString> problem;  // otherwise why not, for "Cannot use ReleaseNotes.xml: <problem>"
};

// The statement of notes whose signature held. Notes without one, or with several, do not say which
// release they are, and a keyed updater must refuse them like unsigned ones.
[[nodiscard]] StatementReading ReadReleaseStatement(const QDomDocument &notes);
[[nodiscard]] StatementReading ReadReleaseStatement(const QByteArray &notes);

// The SHA-256 of a manifest's exact bytes as a statement names it.
QByteArray ManifestDigest(const QByteArray &manifest);

// Why manifest, the exact bytes whose signature held, is not the one published with the notes of
// statement, for "Cannot use GameManifest.xml: <problem>"; none when it is.
[[nodiscard]] std::optional<QString> ForeignManifestProblem(const ReleaseStatement &statement,
                                                            const QByteArray &manifest);

// Why the release of statement must not be installed now, for "Cannot use ReleaseNotes.xml:
// <problem>": its number is below installedRelease, the highest that a completed run accepted here
// (none: nothing is known, see InstalledReleaseFloor), or it expired before now. The installed
// release itself passes again: every start of the updater runs it once more.
[[nodiscard]] std::optional<QString> StaleReleaseProblem(const ReleaseStatement &statement,
                                                         std::optional<qint64> installedRelease,
                                                         const QDateTime &now);

// A time as the statement carries it: "2026-12-31T23:59:59Z".
QString StatementTime(const QDateTime &time);
// The UTC time that text gives in exactly that form; none for anything else.
std::optional<QDateTime> ParseStatementTime(const QString &text);

#endif // RELEASESTATEMENT_H
