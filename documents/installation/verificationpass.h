#ifndef VERIFICATIONPASS_H
#define VERIFICATIONPASS_H

#include "documents/installation/digestrecord.h"
#include "documents/installation/filehash.h"
#include "documents/installation/manifestcheck.h"

#include <QFutureWatcher>
#include <QObject>
#include <QStringList>

#include <memory>

// A verification pass of the installation in the current directory, with the record of verified
// digests at recordPath: a check of the manifest (documents/installation/manifestcheck.h) that
// knows the digests which that record holds, and committed over it (the files put in place since
// it was written). Afterwards the record holds what the pass found, unless that is what it held
// already. A record that cannot be used or written adds a line to recordProblems; the pass then
// reads every file that committed does not know.
//
// It comes in two halves, between which the files are read (Md5OfFiles of walk.hashedPaths).
struct VerificationWalk
{
    ManifestWalk walk;
    bool bRecordBehind = false;  // the record on disk lacks what the pass knows
};
// With bRecordSetAside the record is not read, nor is committed taken: every file is read, and the
// record written anew.
[[nodiscard]] VerificationWalk WalkForVerification(ManifestListing listing,
                                                   const QStringList &notUpdatedFiles,
                                                   const QString &recordPath,
                                                   const DigestRecord &committed,
                                                   bool bRecordSetAside = false);
[[nodiscard]] ManifestCheck FinishVerification(VerificationWalk walk,
                                               const QVector<FileDigest> &digests, bool bCancelled,
                                               const QString &recordPath);
// Both halves, waiting for the digests: for a caller outside the thread pool.
ManifestCheck RunVerificationPass(ManifestListing listing, const QStringList &notUpdatedFiles,
                                  const QString &recordPath,
                                  const DigestRecord &committed, HashControl *control);

// The passes of a run, one at a time, with the installation's record of verified digests
// (ConfigFiles::verifiedDigests). Each has three pieces of work on the global thread pool, started
// one after the other from the thread that owns this object: the walk, the files' digests, and the
// record. Finished comes on that thread once they are done; destroying the object stops a pass that
// still runs, within one chunk of one file.
class VerificationPass : public QObject
{
    Q_OBJECT

public:
    explicit VerificationPass(QObject *parent = nullptr);
    ~VerificationPass() override;

    // Starts a pass over the files that the manifest lists, after stopping one that still runs.
    // Files named in notUpdatedFiles are not read.
    void Start(ManifestListing manifest, const QStringList &notUpdatedFiles);
    // What the pass found, once Finished has come.
    ManifestCheck Result() const { return finishing->result(); }
    // The bytes that the running pass has read so far.
    qint64 BytesRead() const { return control.bytesHashed; }
    // A file that the Downloader put in place: the next pass takes its digest from here instead of
    // reading it.
    void RecordCommitted(const QString &path, const FileStamp &stamp, const QString &md5);
    // The next pass reads every file, as if there were no record: a repair.
    void SetRecordAsideOnce() { bRecordSetAside = true; }

signals:
    void Finished();

private:
    void Walked();
    void Hashed();
    void Stop();
    template <typename T>
    std::unique_ptr<QFutureWatcher<T>> Watch(const QFuture<T> &future, void (VerificationPass::*next)());

    HashControl control;
    // Files put in place since the running pass began; it took over those that came before.
    DigestRecord committed;
    bool bRecordSetAside = false;
    VerificationWalk walk;  // between the walk and the record
    std::unique_ptr<QFutureWatcher<VerificationWalk>> walking;
    std::unique_ptr<QFutureWatcher<QVector<FileDigest>>> hashing;
    std::unique_ptr<QFutureWatcher<ManifestCheck>> finishing;
};

#endif // VERIFICATIONPASS_H
