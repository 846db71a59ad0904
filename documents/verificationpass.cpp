#include "verificationpass.h"

ManifestCheck RunVerificationPass(const QDomNode &node, const QString &folder,
                                  const QStringList &notUpdatedFiles, const QString &recordPath,
                                  const DigestRecord &committed, HashControl *control)
{
    DigestRecord recorded;
    const QString unusable = recorded.load(recordPath);
    DigestRecord known = recorded;
    known.unite(committed);

    ManifestCheck check = CheckManifest(node, folder, notUpdatedFiles, QString(), control, known);
    if (!unusable.isEmpty()) {
        check.recordProblems.append(
            QStringLiteral("Reading every file: cannot use the record of verified digests %1: %2")
                .arg(recordPath, unusable));
    }
    // A record that could not be used is replaced at once, even by an empty one, so that it is
    // reported once.
    if (!check.bCancelled && (!unusable.isEmpty() || check.verified != recorded)) {
        const QString error = check.verified.save(recordPath);
        if (!error.isEmpty()) {
            check.recordProblems.append(
                QStringLiteral("Cannot write the record of verified digests %1: %2")
                    .arg(recordPath, error));
        }
    }
    return check;
}
