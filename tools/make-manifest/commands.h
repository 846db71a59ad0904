#ifndef COMMANDS_H
#define COMMANDS_H

#include "documents/release/releasestatement.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// What make-manifest returns to its caller.
enum ExitCode {
    Success = 0,
    FilesDiffer = 1,      // --check found a file missing or different
    SignatureFails = 1,   // --verify found a signature that does not prove its document, or notes
                          // that an updater refuses: no statement, expired, another manifest
    BadInput = 2,         // a missing folder, an unreadable file, a manifest that does not parse, a
                          // bad key, a file that cannot be written, bad usage
};

// Writes a GameManifest.xml for every file below folder to outputPath, or to standard output if it
// is empty, and the block list of every file of blocksFrom bytes or more (none if it is negative)
// below folder.
ExitCode WriteManifestOf(const QString &folder, const QString &outputPath, qint64 blocksFrom);

// The files from which on make-manifest writes block lists unless told otherwise.
constexpr qint64 defaultBlocksFrom = 4 * 1024 * 1024;

// Lists on standard output every file of the manifest that is missing or differs below folder.
ExitCode CheckInstallation(const QString &manifestPath, const QString &folder);

// Writes a new key pair: the secret key to secretPath, which must not exist yet, readable by its
// owner only; the public key's base64 to standard output.
ExitCode GenerateKeys(const QString &secretPath);

// Signs a release with the secret key in secretPath: writes its statement (documents/
// releasestatement.h) into the notes, then the signature files of both documents beside them. The
// release number is releaseText, which must be above the last one signed with the key, or else the
// one after it; expiresText, a date (good through its end, UTC) or a UTC time, when given.
ExitCode SignDocuments(const QString &secretPath, const QString &notesPath,
                       const QString &manifestPath, const std::optional<QString> &releaseText,
                       const std::optional<QString> &expiresText);

// Checks the notes as an updater built with the base64 public key publicKeyText does, and prints
// their release; with a manifestPath, also that manifest's signature and that it belongs to them.
ExitCode VerifySignature(const QString &publicKeyText, const QString &notesPath,
                         const QString &manifestPath);

// Where make-manifest keeps the last release number signed with the secret key at secretPath.
QString LastReleasePath(const QString &secretPath);

// "release 7, good through 2026-12-31T23:59:59Z", or "release 7, no expiry".
QString DescribeRelease(const ReleaseStatement &statement);

// The one-line error of this tool, on standard error.
void ReportError(const QString &message);

// A file's whole content, or why it cannot be read, for ReportError.
struct FileContent
{
    QByteArray bytes;
    std::optional<QString> problem;
};
[[nodiscard]] FileContent ReadWholeFile(const QString &path);

#endif // COMMANDS_H
