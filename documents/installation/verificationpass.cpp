#include "verificationpass.h"

#include <utility>

ManifestCheck RunVerificationPass(const QDomNode &node, const QString &folder,
                                  const QStringList &notUpdatedFiles, const QString &recordPath,
                                  const DigestRecord &committed, HashControl *control)
{
    DigestRecord known;
    const std::optional<QString> unusable = known.LoadProblem(recordPath);
    // The record on disk lacks what committed holds. A record that could not be used is replaced at
    // once, even by an empty one, so that it is reported once.
    const bool bRecordBehind = unusable || committed.size() > 0;
    known.unite(committed);

    ManifestCheck check =
        CheckManifest(node, folder, notUpdatedFiles, QString(), control, std::move(known));
    if (unusable) {
        check.recordProblems.append(
            QStringLiteral("Reading every file: cannot use the record of verified digests %1: %2")
                .arg(recordPath, *unusable));
    }
    if (!check.bCancelled && (bRecordBehind || check.bVerifiedDiffers)) {
        if (const std::optional<QString> problem = check.verified.SaveProblem(recordPath)) {
            check.recordProblems.append(
                QStringLiteral("Cannot write the record of verified digests %1: %2")
                    .arg(recordPath, *problem));
        }
    }
    return check;
}
