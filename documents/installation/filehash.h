#ifndef FILEHASH_H
#define FILEHASH_H

#include <QString>
#include <QStringList>

#include <atomic>

class QFile;

// Shared between a hashing pass and whoever watches or stops it, from any thread.
struct HashControl
{
    std::atomic_bool bCancel{false};     // once set, every file being hashed is left within one chunk
    std::atomic<qint64> bytesToHash{0};  // grows by the size of every batch before it is hashed
    std::atomic<qint64> bytesHashed{0};  // grows with every chunk digested
};

// The lower-case hexadecimal MD5 digest of the whole file, read in fixed-size chunks so that memory
// stays flat whatever the file's size. Empty if the file is not a regular file, cannot be opened or
// read to its end, or the control is cancelled.
QString FileMd5(QFile *file, HashControl *control = nullptr);

// FileMd5 of each path, index for index, on QThread::idealThreadCount() threads, the calling thread
// among them. The largest files go first: a thread that draws a large file late would leave the others
// idle at the end.
QStringList Md5OfFiles(const QStringList &paths, HashControl *control = nullptr);

#endif // FILEHASH_H
