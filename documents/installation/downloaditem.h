#ifndef DOWNLOADITEM_H
#define DOWNLOADITEM_H

#include <QMetaType>
#include <QString>
#include <QtGlobal>

// One file waiting to be fetched. folder is relative to the current directory: empty at the top level,
// otherwise ending in "/"; the local path is folder followed directly by fileName.
struct DownloadItem
{
    QString folder;
    QString fileName;
    qint64 size = 0;           // expected size in bytes, from the manifest (0 if not a number)
    bool bSizeListed = false;  // the manifest gives the size as a number
    QString md5;               // the manifest's digest in lower case, if any
    // A large file's block list, with which a copy that differs is patched rather than fetched
    // whole (documents/patch/blocklist.h): its path below the release, and the length and SHA-256
    // digest of its head. Empty where the manifest names none.
    QString blockList;
    qint64 blockListHead = 0;
    QString blockListSha256;
    // The digest of the local copy that differs, where the check read it or knew it: a patch finds
    // the blocks that it holds by it.
    QString localMd5;
};
Q_DECLARE_METATYPE(DownloadItem)

#endif // DOWNLOADITEM_H
