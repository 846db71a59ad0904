#ifndef DIGESTRECORD_H
#define DIGESTRECORD_H

#include "documents/installation/filestamp.h"

#include <QHash>
#include <QString>

#include <array>
#include <optional>

// The MD5 digests of an installation's files as they were when last read or written, each with the
// file's stamp at that moment. A file whose stamp is still the same need not be read again.
//
// On disk it is a text file: a line naming the format and its version, one line per file
// ("DIGEST SIZE MODIFIED CHANGED IDENTITY PATH", the path last since it may hold blanks), and a last
// line with the count of files and the MD5 digest of everything above it, so that a record cut short
// or damaged is never taken for a smaller one.
class DigestRecord
{
public:
    // Reads the record at path. If that fails the record is empty, and the problem says why ("it does
    // not exist", "it is damaged", ...).
    [[nodiscard]] std::optional<QString> LoadProblem(const QString &path);
    // Writes the record to path in one step; why it could not, if it could not.
    [[nodiscard]] std::optional<QString> SaveProblem(const QString &path) const;

    // The digest (lower-case hexadecimal) recorded for the file at relativePath if the record holds
    // it with exactly this stamp, or empty. Either way the record no longer holds that file.
    QString take(const QString &relativePath, const FileStamp &stamp);
    // md5 is lower-case hexadecimal, as FileMd5 gives it.
    void insert(const QString &relativePath, const FileStamp &stamp, const QString &md5);
    // Takes every entry of other, over an entry of its own for the same path.
    void unite(const DigestRecord &other);

    int size() const { return entries.size(); }

private:
    struct Entry
    {
        FileStamp stamp;
        std::array<char, 16> md5;
    };

    QHash<QString, Entry> entries;
};

#endif // DIGESTRECORD_H
