#ifndef FILEHASH_H
#define FILEHASH_H

#include <QFuture>
#include <QString>
#include <QStringList>
#include <QVector>

#include <atomic>
#include <optional>

class QCryptographicHash;
class QFile;

// Shared between a hashing pass and whoever watches or stops it, from any thread.
struct HashControl
{
    std::atomic_bool bCancel{false};     // once set, every file being hashed is left within one chunk
    std::atomic<qint64> bytesToHash{0};  // grows by the size of every batch before it is hashed
    std::atomic<qint64> bytesHashed{0};  // grows with every chunk digested
};

// A file's MD5 digest, or why it has none.
struct FileDigest
{
    QString md5;                     // lower-case hexadecimal
    std::optional<QString> problem;  // the file could not be read to its end
};

// The digest of the whole file, read in fixed-size chunks so that memory stays flat whatever the
// file's size. A file that is not a regular file, cannot be opened or read to its end, or whose
// control is cancelled has none.
[[nodiscard]] FileDigest FileMd5(QFile *file, HashControl *control = nullptr);

// Adds the first length bytes of the file at path to hash, in the same chunks; why it could not, if
// it could not, or the control was cancelled.
[[nodiscard]] std::optional<QString> AddFileStartProblem(const QString &path, qint64 length,
                                                         QCryptographicHash *hash,
                                                         HashControl *control);

// Starts FileMd5 of each path on the global thread pool, every free thread of it taking the next
// file, the largest first: a thread that drew a large file late would leave the others idle at the
// end. The future's one result holds the digests, index for index with paths. Start it from a
// thread outside the pool: a task of the pool that waited for it would hold one of the pool's
// threads idle.
QFuture<QVector<FileDigest>> Md5OfFiles(const QStringList &paths, HashControl *control = nullptr);

#endif // FILEHASH_H
