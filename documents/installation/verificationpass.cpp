#include "verificationpass.h"

#include "app/updaterfiles.h"

#include <QDomDocument>
#include <QtConcurrent>

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

VerificationPass::VerificationPass(QObject *parent)
    : QObject(parent)
{
    connect(&watcher, &QFutureWatcherBase::finished, this, &VerificationPass::Finished);
}

VerificationPass::~VerificationPass()
{
    // The pass reads the control until its end.
    Stop();
}

void VerificationPass::Start(const QDomDocument &manifest, const QStringList &notUpdatedFiles)
{
    Stop();
    control.bCancel = false;
    // The pass works on its own handle of the tree, which no one changes while it runs.
    watcher.setFuture(QtConcurrent::run(
        [manifest, notUpdatedFiles, known = std::exchange(committed, DigestRecord()),
         control = &control] {
            return RunVerificationPass(manifest, QString(), notUpdatedFiles,
                                       ConfigFiles::verifiedDigests, known, control);
        }));
}

void VerificationPass::RecordCommitted(const QString &path, const FileStamp &stamp,
                                       const QString &md5)
{
    committed.insert(path, stamp, md5);
}

void VerificationPass::Stop()
{
    control.bCancel = true;
    watcher.waitForFinished();
}
