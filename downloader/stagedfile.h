#ifndef STAGEDFILE_H
#define STAGEDFILE_H

#include <QCryptographicHash>
#include <QFile>
#include <QFuture>
#include <QString>

// A download's local file: written to the staging file and put in place by commit() in one step, so
// that the target is the previous copy until the new one is whole. Destroying it without a commit
// removes what was written.
//
// The staging file has one fixed name in the updater's own folder: downloads run one at a time and
// one updater runs per folder, so a run that is killed mid-transfer leaves nothing behind in the
// application's folders, and at most this one file, which the next run removes.
//
// Unlike QSaveFile it does not sync the data to disk before the rename. That sync costs milliseconds
// per file (it decided the small-file throughput of a whole update), and the verification pass that
// follows every download already catches a file that a crash left incomplete.
class StagedFile
{
public:
    static QString stagingPath();

    explicit StagedFile(const QString &target);
    ~StagedFile();
    StagedFile(const StagedFile &) = delete;
    StagedFile &operator=(const StagedFile &) = delete;

    bool open();
    // The count written, or -1; after a failed or short write commit() refuses.
    qint64 write(const QByteArray &data);
    // Drops what was written, as if the file had just been opened.
    void restart();
    bool commit();

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
    QString error;
};

#endif // STAGEDFILE_H
