#ifndef RESUMERECORD_H
#define RESUMERECORD_H

#include <QByteArray>
#include <QString>

#include <optional>

// What a staging file holds the start of, kept beside it so that a transfer cut off by the end of
// the updater (closed, killed, crashed) resumes at the next start: the file, the size and digest the
// manifest gave for it, and what the server's first answer said of its version (its ETag, else its
// Last-Modified). The next start resumes only for the same file with the same digest and size.
struct ResumeRecord
{
    QString path;          // relative to the current directory
    qint64 size = -1;      // bytes, or -1 if the manifest gave none
    QString md5;           // lower-case hexadecimal
    QByteArray validator;  // for If-Range; empty if the server gave none

    // Reads the record at filePath; why it cannot be used, if it cannot.
    [[nodiscard]] std::optional<QString> LoadProblem(const QString &filePath);
    // Writes it to filePath in one step; why it could not, if it could not.
    [[nodiscard]] std::optional<QString> SaveProblem(const QString &filePath) const;
};

#endif // RESUMERECORD_H
