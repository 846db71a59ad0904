#ifndef STAGEDFILE_H
#define STAGEDFILE_H

#include <QString>
#include <QTemporaryFile>

// A download's local file: written as a temporary file beside its target (unnamed where the system
// allows) and put in place by commit(), so that the target is the previous copy until the new one
// is whole. Destroying it without a commit removes what was written.
//
// Unlike QSaveFile it does not sync the data to disk before the rename. That sync costs milliseconds
// per file (it decided the small-file throughput of a whole update), and the verification pass that
// follows every download already catches a file that a crash left incomplete.
class StagedFile
{
public:
    explicit StagedFile(const QString &target);
    StagedFile(const StagedFile &) = delete;
    StagedFile &operator=(const StagedFile &) = delete;

    bool open();
    bool isOpen() const;
    // The count written, or -1; after a failed write commit() refuses.
    qint64 write(const QByteArray &data);
    bool commit();

    QString fileName() const; // the target
    QString errorString() const;

private:
    QString target;
    QTemporaryFile temporary;
    bool writeFailed = false;
    QString error;
};

#endif // STAGEDFILE_H
