#ifndef MANIFESTLISTING_H
#define MANIFESTLISTING_H

#include "documents/installation/downloaditem.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>

// The files that a manifest lists, as it lists them, and the entries that it lists in vain.
struct ManifestListing
{
    QVector<DownloadItem> files;  // with a path that the updater may write, in document order
    // Folder or file paths, as the manifest composes them, that are not safe to write or name the
    // updater's own files: the first of them, and how many more there were.
    QStringList rejectedPaths;
    QStringList ownPaths;
    int unlistedPaths = 0;
};

// Reads the manifest content, whose top lies in folder (empty, or ending in "/"), into listing; why
// it cannot, if it cannot (XmlTokenReader's reasons). The XML is read as it streams by, never held
// as a tree: what the listing costs follows the files that it lists, not what the document holds.
//
// Any element with content is a folder or a wrapper: a FolderProperties adds its FolderName and a
// "/" to the path of what it holds (nothing for "."), any other element adds nothing. An element
// without content is a file if it is a FileProperties, with the attributes FileName, Size, md5,
// BlockList, BlockListHead and BlockListSha256; anything else is ignored. A folder whose path may
// not be written is skipped with all it holds.
[[nodiscard]] std::optional<QString> ManifestListingProblem(const QByteArray &content,
                                                            const QString &folder,
                                                            ManifestListing *listing);

#endif // MANIFESTLISTING_H
