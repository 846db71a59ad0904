#ifndef BLOCKLISTWRITER_H
#define BLOCKLISTWRITER_H

#include "documents/installation/filehash.h"

#include <QString>

#include <optional>

// What the manifest says of a block list that the publisher's tool wrote.
struct WrittenBlockList
{
    QString path;  // below the release folder
    qint64 headBytes = 0;
    QString headSha256;  // lower-case hexadecimal
};

// Cuts the file at filePath, whose MD5 digest is md5, into blocks and pieces and writes its block
// list to BlockLists/<md5>.blocks below releaseFolder; what the manifest says of it, or why it could
// not.
struct BlockListResult
{
    WrittenBlockList list;
    std::optional<QString> problem;
};
BlockListResult WriteBlockList(const QString &filePath, const QString &md5,
                               const QString &releaseFolder, HashControl *control);

#endif // BLOCKLISTWRITER_H
