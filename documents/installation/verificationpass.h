#ifndef VERIFICATIONPASS_H
#define VERIFICATIONPASS_H

#include "documents/installation/digestrecord.h"
#include "documents/installation/filehash.h"
#include "documents/installation/manifestcheck.h"

#include <QFutureWatcher>
#include <QObject>
#include <QStringList>

class QDomDocument;

// One verification pass of the installation in the current directory, with the record of verified
// digests at recordPath: CheckManifest with what that record holds, and committed over it (the files
// put in place since it was written), as the known digests. Afterwards the record holds what the pass
// found, unless that is what it held already. A record that cannot be used or written adds a line to
// recordProblems; the pass then reads every file that committed does not know.
ManifestCheck RunVerificationPass(const QDomNode &node, const QString &folder,
                                  const QStringList &notUpdatedFiles, const QString &recordPath,
                                  const DigestRecord &committed, HashControl *control);

// The passes of a run, one at a time, each on the global thread pool with the installation's record
// of verified digests (ConfigFiles::verifiedDigests). Finished comes on the thread that owns this
// object; destroying it stops a pass that still runs, within one chunk of one file.
class VerificationPass : public QObject
{
    Q_OBJECT

public:
    explicit VerificationPass(QObject *parent = nullptr);
    ~VerificationPass() override;

    // Starts a pass over the files that manifest lists, after stopping one that still runs. Files
    // named in notUpdatedFiles are not read.
    void Start(const QDomDocument &manifest, const QStringList &notUpdatedFiles);
    // What the pass found, once Finished has come.
    ManifestCheck Result() const { return watcher.result(); }
    // The bytes that the running pass has read so far.
    qint64 BytesRead() const { return control.bytesHashed; }
    // A file that the Downloader put in place: the next pass takes its digest from here instead of
    // reading it.
    void RecordCommitted(const QString &path, const FileStamp &stamp, const QString &md5);

signals:
    void Finished();

private:
    void Stop();

    HashControl control;
    QFutureWatcher<ManifestCheck> watcher;
    // Files put in place since the running pass began; it took over those that came before.
    DigestRecord committed;
};

#endif // VERIFICATIONPASS_H
