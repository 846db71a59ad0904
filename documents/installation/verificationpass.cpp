#include "verificationpass.h"

#include "app/updaterfiles.h"

#include <QtConcurrent>

#include <utility>

VerificationWalk WalkForVerification(ManifestListing listing, const QStringList &notUpdatedFiles,
                                     const QString &recordPath, const DigestRecord &committed,
                                     bool bRecordSetAside)
{
    DigestRecord known;
    std::optional<QString> unusable;
    if (!bRecordSetAside) {
        unusable = known.LoadProblem(recordPath);
        known.unite(committed);
    }
    VerificationWalk walk{WalkManifest(std::move(listing), notUpdatedFiles, QString(), std::move(known)),
                          // A record that could not be used is replaced at once, even by an empty
                          // one, so that it is reported once.
                          bRecordSetAside || unusable || committed.size() > 0};
    if (unusable) {
        walk.walk.check.recordProblems.append(
            QStringLiteral("Reading every file: cannot use the record of verified digests %1: %2")
                .arg(recordPath, *unusable));
    }
    return walk;
}

ManifestCheck FinishVerification(VerificationWalk walk, const QVector<FileDigest> &digests,
                                 bool bCancelled, const QString &recordPath)
{
    const bool bRecordBehind = walk.bRecordBehind;
    ManifestCheck check = FinishCheck(std::move(walk.walk), digests, bCancelled);
    if (!check.bCancelled && (bRecordBehind || check.bVerifiedDiffers)) {
        if (const std::optional<QString> problem = check.verified.SaveProblem(recordPath)) {
            check.recordProblems.append(
                QStringLiteral("Cannot write the record of verified digests %1: %2")
                    .arg(recordPath, *problem));
        }
    }
    return check;
}

ManifestCheck RunVerificationPass(ManifestListing listing, const QStringList &notUpdatedFiles,
                                  const QString &recordPath, const DigestRecord &committed,
                                  HashControl *control)
{
    VerificationWalk walk =
        WalkForVerification(std::move(listing), notUpdatedFiles, recordPath, committed);
    const QVector<FileDigest> digests = Md5OfFiles(walk.walk.hashedPaths, control).result();
    return FinishVerification(std::move(walk), digests, control && control->bCancel, recordPath);
}

VerificationPass::VerificationPass(QObject *parent)
    : QObject(parent)
{
}

VerificationPass::~VerificationPass()
{
    // The pass reads the control until its end.
    Stop();
}

void VerificationPass::Start(ManifestListing manifest, const QStringList &notUpdatedFiles)
{
    Stop();
    control.bCancel = false;
    walking = Watch(QtConcurrent::run([manifest = std::move(manifest), notUpdatedFiles,
                                       known = std::exchange(committed, DigestRecord()),
                                       bSetAside = std::exchange(bRecordSetAside, false)]() mutable {
                        return WalkForVerification(std::move(manifest), notUpdatedFiles,
                                                   ConfigFiles::verifiedDigests, known, bSetAside);
                    }),
                    &VerificationPass::Walked);
}

void VerificationPass::Walked()
{
    walk = walking->result();
    // Started from this thread rather than from the walk's: every thread of the pool reads files.
    hashing = Watch(Md5OfFiles(walk.walk.hashedPaths, &control), &VerificationPass::Hashed);
}

void VerificationPass::Hashed()
{
    finishing = Watch(QtConcurrent::run([walk = std::exchange(walk, VerificationWalk()),
                                         digests = hashing->result(),
                                         bCancelled = control.bCancel.load()]() mutable {
                          return FinishVerification(std::move(walk), digests, bCancelled,
                                                    ConfigFiles::verifiedDigests);
                      }),
                      &VerificationPass::Finished);
}

void VerificationPass::RecordCommitted(const QString &path, const FileStamp &stamp,
                                       const QString &md5)
{
    committed.insert(path, stamp, md5);
}

void VerificationPass::Stop()
{
    control.bCancel = true;
    // Watchers that go take what they would still say with them.
    if (walking)
        walking->waitForFinished();
    if (hashing)
        hashing->waitForFinished();
    if (finishing)
        finishing->waitForFinished();
    walking.reset();
    hashing.reset();
    finishing.reset();
}

template <typename T>
std::unique_ptr<QFutureWatcher<T>> VerificationPass::Watch(const QFuture<T> &future,
                                                           void (VerificationPass::*next)())
{
    auto watcher = std::make_unique<QFutureWatcher<T>>();
    connect(watcher.get(), &QFutureWatcherBase::finished, this, next);
    watcher->setFuture(future);
    return watcher;
}
