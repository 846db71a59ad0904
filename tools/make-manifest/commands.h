#ifndef COMMANDS_H
#define COMMANDS_H

#include <QByteArray>
#include <QString>
#include <QStringList>

// What make-manifest returns to its caller.
enum ExitCode {
    Success = 0,
    FilesDiffer = 1,      // --check found a file missing or different
    SignatureFails = 1,   // --verify read a signature file that does not prove the document
    BadInput = 2,         // a missing folder, an unreadable file, a manifest that does not parse, a
                          // bad key, a file that cannot be written, bad usage
};

// Writes a GameManifest.xml for every file below folder to outputPath, or to standard output if it
// is empty.
ExitCode WriteManifestOf(const QString &folder, const QString &outputPath);

// Lists on standard output every file of the manifest that is missing or differs below folder.
ExitCode CheckInstallation(const QString &manifestPath, const QString &folder);

// Writes a new key pair: the secret key to secretPath, which must not exist yet, readable by its
// owner only; the public key's base64 to standard output.
ExitCode GenerateKeys(const QString &secretPath);

// Writes the signature file of each document beside it, with the secret key in secretPath.
ExitCode SignDocuments(const QString &secretPath, const QStringList &documentPaths);

// Checks the signature file beside documentPath against the base64 public key publicKeyText.
ExitCode VerifySignature(const QString &publicKeyText, const QString &documentPath);

// The one-line error of this tool, on standard error.
void ReportError(const QString &message);

// The whole content of path; false after reporting why it cannot be read.
bool ReadWholeFile(const QString &path, QByteArray *content);

#endif // COMMANDS_H
