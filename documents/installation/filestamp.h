#ifndef FILESTAMP_H
#define FILESTAMP_H

#include <QMetaType>
#include <QString>

#include <optional>

// What the system changes whenever a file is written, renamed into place or has its times set: a file
// whose stamp is the same as when it was hashed still has the content it had then. Both times count
// nanoseconds since 1970 (Windows keeps them in steps of 100).
struct FileStamp
{
    qint64 size = 0;
    qint64 modified = 0;
    qint64 changed = 0;    // the status change time on Unix, the change time on Windows
    quint64 identity = 0;  // the inode on Unix, the file index on Windows

    friend bool operator==(const FileStamp &a, const FileStamp &b)
    {
        return a.size == b.size && a.modified == b.modified && a.changed == b.changed
               && a.identity == b.identity;
    }
    friend bool operator!=(const FileStamp &a, const FileStamp &b) { return !(a == b); }
};
Q_DECLARE_METATYPE(FileStamp)

// The stamp of the regular file at path (a link is followed), or nothing if there is none or it
// cannot be examined.
std::optional<FileStamp> ReadFileStamp(const QString &path);

#endif // FILESTAMP_H
