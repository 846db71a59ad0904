#ifndef STAGEDFILE_H
#define STAGEDFILE_H

#include "documents/installation/filehash.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFuture>
#include <QString>

#include <optional>

// A download's local file: written to the staging file and moved to its target by CommitProblem()
// in one step, so that the target is the previous copy until the new one is whole. The target of a
// file of the installation is its staged copy (ConfigFiles::StagedCopyPath), which the switch puts
// in place with the rest of its pass; that of a document, the document itself. Destroying it
// without a commit removes what was written, unless it is kept for the next start to resume.
//
// The staging files have fixed names in the updater's own folder, one for each transfer that may run
// at once (its slot, ConfigFiles::StagingPath), and one updater runs per folder: a run that is killed
// mid-transfer leaves nothing behind in the application's folders, only these files, which the next
// run resumes or removes.
//
// Unlike QSaveFile it does not sync the data to disk before the rename. That sync costs milliseconds
// per file (it decided the small-file throughput of a whole update), and the verification pass that
// follows every download already catches a file that a crash left incomplete.
class StagedFile
{
public:
    // Parts of handOverBytes or more are digested on the global thread pool while the next one
    // arrives; smaller ones cost less than handing them over.
    StagedFile(const QString &target, int slot, qint64 handOverBytes);
    ~StagedFile();
    StagedFile(const StagedFile &) = delete;
    StagedFile &operator=(const StagedFile &) = delete;

    [[nodiscard]] std::optional<QString> OpenProblem();
    // Takes up what is staged already, for a target of the same content: the bytes stay, and are
    // digested again on the global pool (Rereading()) before anything is added. Why they cannot be,
    // with the staging file empty, if they cannot.
    [[nodiscard]] std::optional<QString> ReopenProblem();
    // Why what ReopenProblem() found could not be read again, once it has finished: the staging file
    // must then start afresh.
    QFuture<std::optional<QString>> Rereading() const { return rereading; }
    // After a failed or short write, CommitProblem() refuses too.
    [[nodiscard]] std::optional<QString> WriteProblem(const QByteArray &data);
    // Drops what was written, as if the file had just been opened. If that fails, the next write
    // says why.
    void Restart();
    [[nodiscard]] std::optional<QString> CommitProblem();
    // Leaves the staging file as it is when this object goes.
    void Keep() { bKept = true; }

    qint64 size() const { return bytesWritten; }
    // The lower-case hexadecimal MD5 digest of everything written: computed as it is written, so
    // that a committed file need not be read again to be known.
    QString md5();

private:
    void StopDigesting();

    QString target;
    const int slot;
    QFile staging;
    const qint64 handOverBytes;
    QCryptographicHash hash{QCryptographicHash::Md5};
    QFuture<void> digesting;  // the part written last, while it is digested
    QFuture<std::optional<QString>> rereading;
    HashControl rereadControl;
    qint64 bytesWritten = 0;
    qint64 writtenBack = 0;  // the bytes up to which the system has been asked to write to disk
    std::optional<QString> failure;  // of a write or a restart: the file is not what was written
    bool bKept = false;
};

#endif // STAGEDFILE_H
