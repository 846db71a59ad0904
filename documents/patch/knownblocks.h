#ifndef KNOWNBLOCKS_H
#define KNOWNBLOCKS_H

#include "documents/patch/contentchunks.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

// The blocks of the large files that the updater put in place, kept under Config/Blocks/ by the
// file's MD5 digest (the head of its block list, as the server gave it): the next patch of such a
// file knows what it holds without reading it through. Only a hint: a block that it names is never
// put in place unless the whole file comes out with the digest that the manifest lists, and a patch
// that does not forgets it.
namespace KnownBlocks {

void Remember(const QString &md5, const QByteArray &head);
void Forget(const QString &md5);
// The blocks of a file with this digest and size, if they are known.
std::optional<std::vector<ContentChunks::Chunk>> Recall(const QString &md5, qint64 size);

} // namespace KnownBlocks

#endif // KNOWNBLOCKS_H
