#ifndef COMMANDS_H
#define COMMANDS_H

#include <QString>

// What make-manifest returns to its caller.
enum ExitCode {
    Success = 0,
    FilesDiffer = 1,  // --check found a file missing or different
    BadInput = 2,     // a missing folder, an unreadable file, a manifest that does not parse, bad usage
};

// Writes a GameManifest.xml for every file below folder to outputPath, or to standard output if it
// is empty.
ExitCode WriteManifestOf(const QString &folder, const QString &outputPath);

// Lists on standard output every file of the manifest that is missing or differs below folder.
ExitCode CheckInstallation(const QString &manifestPath, const QString &folder);

// The one-line error of this tool, on standard error.
void ReportError(const QString &message);

#endif // COMMANDS_H
