#ifndef STAGEDFILE_H
#define STAGEDFILE_H

#include <QCryptographicHash>
#include <QFile>
#include <QFuture>
#include <QString>

#include <atomic>

// A download's local file: written to the staging file and put in place by commit() in one step, so
// that the target is the previous copy until the new one is whole. Destroying it without a commit
// removes what was written, unless it is kept for the next start to resume.
//
// The staging files have fixed names in the updater's own folder, one for each transfer that may run
// at once (its slot), and one updater runs per folder: a run that is killed mid-transfer leaves
// nothing behind in the application's folders, only these files, which the next run resumes or
// removes.
//
// Unlike QSaveFile it does not sync the data to disk before the rename. That sync costs milliseconds
// per file (it decided the small-file throughput of a whole update), and the verification pass that
// follows every download already catches a file that a crash left incomplete.
class StagedFile
{
public:
    // Config/Download.part for the first slot, Config/Download-1.part for the next, and so on.
    static QString stagingPath(int slot = 0);
    // The record beside it that says what it holds (downloader/resumerecord.h): Config/Download.resume,
    // Config/Download-1.resume, ...
    static QString recordPath(int slot = 0);
    // The slot of a staging or record file's name in Config/, or -1 if it is neither.
    static int slotOf(const QString &fileName);

    explicit StagedFile(const QString &target, int slot = 0);
    ~StagedFile();
    StagedFile(const StagedFile &) = delete;
    StagedFile &operator=(const StagedFile &) = delete;

    bool open();
    // Takes up what is staged already, for a target of the same content: the bytes stay, and are
    // digested again on another core before anything is added. False, with the staging file empty,
    // if they cannot be.
    bool reopen();
    // The digest of what has been written so far is complete once this has finished.
    QFuture<void> digested() const { return digesting; }
    // Whether what reopen() found could not be read again once digested() has finished: the staging
    // file must then start afresh.
    bool rereadFailed() const;
    // The count written, or -1; after a failed or short write commit() refuses.
    qint64 write(const QByteArray &data);
    // Drops what was written, as if the file had just been opened.
    void restart();
    bool commit();
    // Leaves the staging file as it is when this object goes.
    void keep() { bKept = true; }

    qint64 size() const; // bytes written so far

    QString fileName() const; // the target
    QString errorString() const;
    // The lower-case hexadecimal MD5 digest of everything written: computed as it is written, so
    // that a committed file need not be read again to be known.
    QString md5();

private:
    QString target;
    QFile staging;
    QCryptographicHash hash{QCryptographicHash::Md5};
    QFuture<void> digesting;  // the part written last, while it is digested
    qint64 bytesWritten = 0;
    bool writeFailed = false;
    bool bKept = false;
    std::atomic_bool bRereadFailed{false};
    std::atomic_bool bStopReread{false};
    QString error;
};

#endif // STAGEDFILE_H
